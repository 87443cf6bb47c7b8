#!/usr/bin/env bash
# Checks the release zip that tools/package.sh made: the name carries the
# project's version, it holds exactly the two programs, the user guide,
# the Windows check list and the Wireshark dissector, and elq770.exe carries that version in its version resource and its
# manifest (asInvoker, neither DPI-aware nor on common controls 6).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/package"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip="$root/dist/elq770-$version-win64.zip"
fail() { echo "check-package: $*" >&2; exit 1; }

[ -f "$zip" ] || fail "missing $zip"
expected="USER-GUIDE.txt WINDOWS-CHECKLIST.md elq770.exe elq770.lua elq770ctl.exe"
expected=$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "$expected" ] || fail "holds '$listed', expected '$expected'"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
unzip -q "$zip" -d "$out"
exe="$out/elq770.exe"
for program in elq770.exe elq770ctl.exe; do
  [ "$(head -c 2 "$out/$program")" = "MZ" ] || fail "$program is no Windows program"
done
strings -e l "$exe" | grep -qx "$version" || fail "no version $version in the version resource"
strings -e l "$exe" | grep -qx "Version: $version" || fail "no version $version in the About box"
manifest=$(strings "$exe" | sed -n '/<assembly/,/<\/assembly>/p')
grep -q 'level="asInvoker"' <<<"$manifest" || fail "manifest without asInvoker"
grep -q '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' <<<"$manifest" || fail "manifest without Windows 10/11"
! grep -qi 'dpiAware' <<<"$manifest" || fail "manifest declares DPI awareness"
! grep -q 'Common-Controls' <<<"$manifest" || fail "manifest asks for common controls 6"
grep -q $'^Running it\r$' "$out/USER-GUIDE.txt" || fail "user guide without CRLF lines"
cmp -s "$out/elq770.lua" "$root/tools/wireshark/elq770.lua" || fail "elq770.lua differs from tools/wireshark/elq770.lua"
echo "check-package: $(basename "$zip") holds $listed"
