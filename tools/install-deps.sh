#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, once: packages that
# are already there are not fetched again. tshark runs the Wireshark dissector
# in the tests; its question about capture rights is answered by its default
# (no) under DEBIAN_FRONTEND=noninteractive. GNU time (/usr/bin/time -v)
# takes the peak memory figures of tools/measure.sh decode.
#   tools/install-deps.sh [--arm64]
# --arm64 adds what the cross build of the arm64 package needs (see below).
set -euo pipefail

PACKAGES=(
  cmake make g++
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  googletest libgtest-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  wine wine64 fonts-wine xvfb imagemagick x11-utils
  zip unzip
  libpcap-dev
  tshark
  pkg-config libmosquitto-dev mosquitto mosquitto-clients openssl
  libmicrohttpd-dev prometheus python3-jinja2 curl
  time
  ser2net python3-serial
  dpkg-dev help2man lintian
)
# The printer the tests print on: a CUPS queue that writes PDF files, and the
# tools that read them back. Their recommendations (avahi, colour management,
# drivers) are not needed.
PRINT_PACKAGES=(cups cups-client printer-driver-cups-pdf poppler-utils ghostscript)
# The arm64 package (tools/package-deb.sh arm64): Debian's cross compiler,
# the target's libraries beside the host's by multiarch (libstdc++6 too,
# where dpkg-shlibdeps and qemu look for it: the cross compiler's own copy
# lies elsewhere), and qemu to run the program it built.
ARM64_PACKAGES=(crossbuild-essential-arm64 libmosquitto-dev:arm64 libmicrohttpd-dev:arm64 libstdc++6:arm64 qemu-user-static)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${PACKAGES[@]}")
mapfile -t missing_print < <(missing_of "${PRINT_PACKAGES[@]}")
missing_arm64=()
if [ "${1:-}" = --arm64 ]; then
  mapfile -t missing_arm64 < <(missing_of "${ARM64_PACKAGES[@]}")
  if [ ${#missing_arm64[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $SUDO dpkg --add-architecture arm64
  fi
fi
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_print[@]} -eq 0 ] && [ ${#missing_arm64[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]} ${missing_print[*]} ${missing_arm64[*]}"
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#missing_print[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing_print[@]}" >/dev/null
fi
if [ ${#missing_arm64[@]} -gt 0 ]; then
  # A library of both architectures must be of one version, so apt may
  # update the host's copy (a security update the arm64 one already has);
  # a plan that removes a host package instead is refused.
  removals=$(apt-get -s install "${missing_arm64[@]}" | sed -n 's/^Remv //p')
  if [ -n "$removals" ]; then
    echo "install-deps: installing ${missing_arm64[*]} would remove: $removals; not done" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing_arm64[@]}" >/dev/null
fi
