#!/usr/bin/env bash
# Builds the release zip from a clean Windows build:
#   dist/elq770-<version>-win64.zip
# holding elq770.exe, the command-line tool elq770ctl.exe, the user guide
# and the check list for a Windows machine (CRLF line endings, for Notepad),
# and the Wireshark dissector elq770.lua for the line's recordings. The version is the CMake
# project's. Prints the zip's path last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build="$root/build/package"
stage="$build/stage"

rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package: no project version" >&2; exit 1; }

targets=(elq770 elq770ctl)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$stage"
for target in "${targets[@]}"; do
  cp "$build/$target.exe" "$stage/"
  x86_64-w64-mingw32-strip "$stage/$target.exe"
done
sed 's/\r*$/\r/' docs/user-guide.txt > "$stage/USER-GUIDE.txt"
sed 's/\r*$/\r/' docs/windows-checklist.md > "$stage/WINDOWS-CHECKLIST.md"
cp tools/wireshark/elq770.lua "$stage/elq770.lua"

mkdir -p dist
zip="$root/dist/elq770-$version-win64.zip"
rm -f "$zip"
(cd "$stage" && zip -q -X -9 "$zip" ./*)
echo "$zip"
