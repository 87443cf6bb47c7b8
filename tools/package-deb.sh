#!/usr/bin/env bash
# Builds the Debian packages of elq770ctl for Linux gateway boxes:
#   dist/elq770ctl_<version>_amd64.deb
#   dist/elq770ctl_<version>_arm64.deb   (cross-built, Raspberry Pi-class)
# each from a clean release build without sanitizers and without the tests
# (build/deb-ARCH), with Debian's hardening flags. A package holds the tool,
# the systemd template unit and its example configuration, the Wireshark
# dissector, a manual page made from the tool's own --help, the copyright
# and changelog of tools/deb/, and the maintainer scripts there; its
# Depends come from dpkg-shlibdeps. lintian must find no error in it.
#   tools/package-deb.sh [ARCH...]    (default: amd64 arm64)
# A foreign architecture needs its cross compiler, its :arm64 libraries and
# qemu-user-static (tools/install-deps.sh --arm64): the manual page is made
# by running the cross-built program, which so proves it starts. The version
# is the top CMakeLists.txt's and must head tools/deb/changelog. Prints each
# package's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
umask 022
host_arch=$(dpkg --print-architecture)
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(amd64 arm64)
fail() { echo "package-deb: $*" >&2; exit 1; }

# dpkg-architecture for the architecture $1, with that architecture's
# compiler as CC, which it checks against.
for_arch() {
  local arch=$1
  shift
  CC="$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-gcc" dpkg-architecture -a"$arch" "$@"
}

# The packaged unit runs the packaged program.
grep -q '^ExecStart=/usr/bin/elq770ctl ' docs/elq770-publish@.service ||
  fail "docs/elq770-publish@.service does not start /usr/bin/elq770ctl"

changelog_version=$(dpkg-parsechangelog -l tools/deb/changelog -S Version)
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l tools/deb/changelog -S Timestamp)
export SOURCE_DATE_EPOCH  # help2man's date, dpkg-deb's file times

# Configures a build of elq770ctl alone for $1 in $2, with the flags Debian
# builds its packages with (hardening included).
configure_tool() {
  local arch=$1 build=$2 toolchain=()
  if [ "$arch" != "$host_arch" ]; then
    local triplet
    triplet=$(for_arch "$arch" -qDEB_HOST_MULTIARCH)
    [ -f "cmake/$triplet.cmake" ] || fail "no toolchain file cmake/$triplet.cmake for $arch"
    command -v "$triplet-g++" >/dev/null ||
      fail "$triplet-g++ is missing: tools/install-deps.sh --$arch"
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/$triplet.cmake")
  fi
  rm -rf "$build"
  (
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all for_arch "$arch" -c dpkg-buildflags --export=sh)"
    # CMake takes no CPPFLAGS (_FORTIFY_SOURCE). No -g: the program is
    # stripped and no debug package is made. GCC 12 warns under
    # _FORTIFY_SOURCE about strncat bounded by the room left in the buffer
    # (output/print_page.cpp), which is the correct bound.
    CXXFLAGS=" $CPPFLAGS $CXXFLAGS "
    export CXXFLAGS="${CXXFLAGS/ -g / } -Wno-stringop-truncation"
    cmake -S . -B "$build" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
          -DELQ_SANITIZE=OFF -DELQ_BUILD_TESTS=OFF -DELQ_WITH_MQTT=ON >/dev/null
  )
}

# The program as help2man and the checks call it: named elq770ctl in its
# usage lines, through qemu when it is foreign.
make_runner() {
  local arch=$1 program=$2 runner=$3 cpu
  if [ "$arch" = "$host_arch" ]; then
    printf '#!/bin/bash\nexec -a elq770ctl %s "$@"\n' "$program" > "$runner"
  else
    cpu=$(for_arch "$arch" -qDEB_HOST_GNU_CPU)
    command -v "qemu-$cpu-static" >/dev/null ||
      fail "qemu-$cpu-static is missing: tools/install-deps.sh --$arch"
    printf '#!/bin/sh\nexec qemu-%s-static -0 elq770ctl %s "$@"\n' "$cpu" "$program" > "$runner"
  fi
  chmod 0755 "$runner"
}

# Roff for text shown as it stands.
roff_verbatim() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

# help2man's include file: the fixed sections of tools/deb/ and one part per
# subcommand with its --help (without the exit codes, which the page's
# head already lists).
man_include() {
  local runner=$1 multiarch=$2 sub
  sed "s/@MULTIARCH@/$multiarch/" tools/deb/elq770ctl.h2m
  printf '\n[SUBCOMMANDS]\n'
  for sub in $("$runner" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }'); do
    printf '.SS %s\n' "$sub"
    "$runner" "$sub" --help | sed -n '1p' | roff_verbatim
    printf '.PP\n.nf\n'
    "$runner" "$sub" --help | sed -e '1d' -e '/^Exit codes:/,$d' | sed -e '/./,$!d' | roff_verbatim
    printf '.fi\n'
  done
}

# Puts the package's files into $3/stage: everything but DEBIAN/control.
stage_files() {
  local arch=$1 version=$2 build=$3 stage=$3/stage multiarch runner
  multiarch=$(for_arch "$arch" -qDEB_HOST_MULTIARCH)
  local doc=$stage/usr/share/doc/elq770ctl
  install -d "$stage/usr/bin" "$stage/lib/systemd/system" "$stage/etc/elq770" \
             "$stage/usr/lib/$multiarch/wireshark/plugins" "$stage/usr/share/man/man1" "$doc" \
             "$stage/DEBIAN"
  install -m 0755 "$build/elq770ctl" "$stage/usr/bin/elq770ctl"
  "$(for_arch "$arch" -qDEB_HOST_GNU_TYPE)-strip" \
    --remove-section=.comment --remove-section=.note "$stage/usr/bin/elq770ctl"
  install -m 0644 docs/elq770-publish@.service "$stage/lib/systemd/system/"
  install -m 0644 docs/elq770-publish.conf.example "$stage/etc/elq770/"
  install -m 0644 tools/wireshark/elq770.lua "$stage/usr/lib/$multiarch/wireshark/plugins/"
  install -m 0644 tools/deb/copyright "$doc/copyright"
  gzip -9n < tools/deb/changelog > "$doc/changelog.gz"

  mkdir -p "$build/runner"
  runner=$build/runner/elq770ctl
  make_runner "$arch" "$stage/usr/bin/elq770ctl" "$runner"
  [ "$("$runner" --version)" = "elq770ctl $version" ] || fail "$arch: the program does not give its version"
  man_include "$runner" "$multiarch" > "$build/elq770ctl.h2m"
  help2man --no-info --no-discard-stderr --include "$build/elq770ctl.h2m" "$runner" |
    gzip -9n > "$stage/usr/share/man/man1/elq770ctl.1.gz"
  chmod 0644 "$stage/usr/share/man/man1/elq770ctl.1.gz" "$doc/changelog.gz"

  install -m 0755 tools/deb/postinst tools/deb/prerm tools/deb/postrm "$stage/DEBIAN/"
  install -m 0644 tools/deb/conffiles "$stage/DEBIAN/"
  (cd "$stage" && find . -type f ! -path './DEBIAN/*' ! -path './etc/*' -printf '%P\0' |
     LC_ALL=C sort -z | xargs -0 md5sum) > "$stage/DEBIAN/md5sums"
  chmod 0644 "$stage/DEBIAN/md5sums"
}

# DEBIAN/control from tools/deb/control, the changelog's version, the
# libraries dpkg-shlibdeps finds and the staged size; then the .deb.
assemble() {
  local arch=$1 version=$2 build=$3 deb=$4
  local source=$build/source
  mkdir -p "$source/debian"
  cp tools/deb/control tools/deb/changelog "$source/debian/"
  (
    cd "$source"
    for_arch "$arch" -c dpkg-shlibdeps -Tdebian/substvars "$build/stage/usr/bin/elq770ctl"
    for_arch "$arch" -c dpkg-gencontrol -pelq770ctl -P"$build/stage" -Tdebian/substvars -fdebian/files
  )
  dpkg-deb --root-owner-group -Zxz --build "$build/stage" "$deb" >/dev/null
}

for arch in "${arches[@]}"; do
  build="$root/build/deb-$arch"
  configure_tool "$arch" "$build"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  [ -n "$version" ] || fail "no project version"
  [ "$version" = "$changelog_version" ] ||
    fail "version $version, but tools/deb/changelog starts with $changelog_version: add its entry"
  cmake --build "$build" -j"$(nproc)" --target elq770ctl >/dev/null
  stage_files "$arch" "$version" "$build"
  mkdir -p dist
  deb="$root/dist/elq770ctl_${version}_$arch.deb"
  rm -f "$deb"
  assemble "$arch" "$version" "$build" "$deb"
  lintian --fail-on error "$deb" >&2 ||
    fail "lintian finds errors in $deb"
  echo "$deb"
done
