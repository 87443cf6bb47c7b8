#!/usr/bin/env bash
# Checks the Debian packages that tools/package-deb.sh made, as a gateway box
# gets them:
#   tools/check-deb.sh dist/elq770ctl_<version>_amd64.deb [dist/..._arm64.deb]
# The package of this machine's architecture is installed with apt-get; the
# installed program must give its version and decode the golden recording
# as the tested build (build/native) does, the unit must be there and
# disabled, the user elq770 there and in dialout, and tshark must find the
# dissector by itself. Then the package is purged, and the user removed when
# this run made it, so that the machine is left as it was. A package of
# another architecture is unpacked and its program run the same way under
# qemu-user-static, where that is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
recording=tests/data/recordings/simulator-record-3s.pcap
tested=build/native/elq770ctl
host_arch=$(dpkg --print-architecture)
fail() { echo "check-deb: $*" >&2; exit 1; }
# apt-get, quiet, and waiting for another apt or dpkg run on the machine to end.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@" >/dev/null; }

[ $# -gt 0 ] || fail "usage: tools/check-deb.sh PACKAGE.deb..."
[ -x "$tested" ] || fail "$tested is missing: build it first (tools/build.sh)"
expected_decode=$("$tested" decode "$recording")
# The recording starts with the data request of `record`; its answer follows.
# (decode's first line names the recording's start; its packets are indented.)
[ "$(grep -m1 '^ ' <<<"$expected_decode")" = \
  "    0.000000  to device    f1 e1 11 a1 84 0d  ok word 65050: request data" ] ||
  fail "$recording: the tested build decodes another first packet"

work=$(mktemp -d)
user_made=""
ours=""  # set once this check installs the package: only then is it ours to purge
# Written before the install and removed once the machine is as it was: a
# check that was killed half-way (a stopped CI job, a closed terminal) leaves
# it behind, and the next check finishes that one's clean-up instead of
# taking the package for the administrator's own. Root's alone, so that
# nobody else can make a check purge a package.
state_dir=/var/lib/elq770-check-deb
marker=$state_dir/state
# Any trace of the package in dpkg's database: installed, half-installed,
# unpacked, its configuration files left ...
present() {
  local status
  status=$(dpkg-query -W -f='${db:Status-Status}' elq770ctl 2>/dev/null) || return 1
  [ -n "$status" ] && [ "$status" != not-installed ]
}
# apt-get first; dpkg itself where an interrupted run left the package half
# in, which apt-get will not touch.
purge_ours() {
  apt_get purge elq770ctl 2>/dev/null ||
    DEBIAN_FRONTEND=noninteractive dpkg --purge --force-remove-reinstreq elq770ctl >/dev/null 2>&1 || true
  ! present
}
cleanup() {
  local clean=yes
  if [ -n "$ours" ] && present; then purge_ours || clean=""; fi
  if [ -n "$ours" ] && [ -n "$user_made" ] && getent passwd elq770 >/dev/null; then
    userdel elq770
    if getent group elq770 >/dev/null; then groupdel elq770; fi
  fi
  # Kept when the package would not go, so that the next check tries again.
  if [ -n "$clean" ]; then rm -f "$marker" && rmdir "$state_dir" 2>/dev/null || true; fi
  rm -rf "$work"
}
# The clean-up also runs when the check is interrupted or terminated.
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# One check at a time: a second one would take the first one's state file
# for a killed check's. The lock goes with its holder's process.
lock=/run/lock/elq770-check-deb.lock
exec 9>"$lock"
flock -w 600 9 || fail "another check has held $lock for 10 minutes"

# A killed check's leftovers: its package, the user it made.
if [ -f "$marker" ] && [ ! -L "$marker" ] && [ -O "$marker" ]; then
  echo "check-deb: finishing the clean-up of an interrupted check" >&2
  grep -qx "user_made=yes" "$marker" && user_made=yes
  ours=yes
  cleanup
  [ ! -f "$marker" ] || fail "elq770ctl of an interrupted check would not go; see dpkg --audit"
  user_made=""
  ours=""
  work=$(mktemp -d)
fi

# The program $1 must give the version $2 and decode the recording as the
# tested build does.
check_program() {
  local program=$1 version=$2 decoded
  [ "$($program --version)" = "elq770ctl $version" ] || fail "$program --version: $($program --version)"
  decoded=$($program decode "$recording")
  [ "$decoded" = "$expected_decode" ] ||
    fail "$program decodes $recording otherwise: $(diff <(echo "$expected_decode") <(echo "$decoded") | head -5)"
}

check_installed() {
  local deb=$1 version=$2 tshark_first
  if present; then
    fail "elq770ctl is on this machine already ($(dpkg-query -W -f='${db:Status-Status}' elq770ctl)); this check would remove it"
  fi
  getent passwd elq770 >/dev/null || user_made=yes
  mkdir -p -m 700 "$state_dir"
  echo "user_made=$user_made" >"$marker"
  ours=yes
  apt_get install "$(realpath "$deb")"

  check_program /usr/bin/elq770ctl "$version"
  man -w elq770ctl >/dev/null || fail "no manual page elq770ctl(1)"
  [ -f /lib/systemd/system/elq770-publish@.service ] || fail "the unit is not installed"
  [ "$(systemctl is-enabled elq770-publish@check.service 2>&1 || true)" = disabled ] ||
    fail "elq770-publish@check.service is not disabled: $(systemctl is-enabled elq770-publish@check.service 2>&1)"
  [ -f /etc/elq770/elq770-publish.conf.example ] || fail "no example configuration in /etc/elq770"
  id -nG elq770 | tr ' ' '\n' | grep -qx dialout || fail "elq770 is not in dialout: $(id elq770)"
  # The dissector where Wireshark looks for system Lua plugins: no -X.
  tshark_first=$(HOME=$work XDG_CONFIG_HOME=$work/config tshark -n -c 1 -r "$recording" 2>/dev/null)
  grep -q "ELQ770.*request data" <<<"$tshark_first" || fail "tshark does not dissect: $tshark_first"

  apt_get purge elq770ctl
  for path in /usr/bin/elq770ctl /lib/systemd/system/elq770-publish@.service /etc/elq770; do
    [ ! -e "$path" ] || fail "$path is left after the purge"
  done
  echo "check-deb: $(basename "$deb") installs, runs, has its unit disabled and user elq770, and purges"
}

check_foreign() {
  local deb=$1 version=$2 arch=$3 cpu
  cpu=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_CPU 2>/dev/null)
  if ! command -v "qemu-$cpu-static" >/dev/null; then
    echo "check-deb: $(basename "$deb") not run: qemu-$cpu-static is not installed"
    return
  fi
  dpkg-deb -x "$deb" "$work/$arch"
  check_program "qemu-$cpu-static $work/$arch/usr/bin/elq770ctl" "$version"
  echo "check-deb: $(basename "$deb") runs under qemu-$cpu-static"
}

for deb in "$@"; do
  [ -f "$deb" ] || fail "no $deb"
  version=$(dpkg-deb -f "$deb" Version)
  arch=$(dpkg-deb -f "$deb" Architecture)
  if [ "$arch" = "$host_arch" ]; then
    check_installed "$deb" "$version"
  else
    check_foreign "$deb" "$version" "$arch"
  fi
done
