#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, once: packages that
# are already there are not fetched again.
set -euo pipefail

PACKAGES=(
  cmake make g++
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  wine wine64 fonts-wine xvfb imagemagick x11-utils
  zip unzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
