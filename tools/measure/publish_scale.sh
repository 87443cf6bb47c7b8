#!/usr/bin/env bash
# Many gateways into one broker: COUNT simulators (elq770-sim --link), one
# `elq770ctl publish` for each, and one Mosquitto broker that this script
# starts on a free port of 127.0.0.1 with its own configuration (a broker the
# machine already runs is never touched).
#
#   publish_scale.sh ELQ770CTL ELQ770_SIM [SECONDS [COUNT]]   (default 60, 16)
#
# A subscriber (mosquitto_sub, QoS 1) writes every measurement and status
# message with its arrival time. After a warm-up in which every gateway has
# sent its first measurement, the CPU time of each process (utime + stime
# from /proc/PID/stat) is taken at the start and the end of SECONDS; then the
# gateways get SIGTERM and flush. It prints per gateway the measurement
# messages received against those expected (one per interval from its first
# to its last; a gap in the messages' own times counts as missing, a time seen
# twice as a duplicate), the samples per message, the delay from the end of
# an interval to the subscriber, and the CPU shares (percent of one core) of
# each gateway, the broker, the simulators and the subscriber.
#
# A figure, not a test: it depends on the machine and on what else runs on it
# (the load is printed). It fails only when a figure cannot be taken at all
# (no broker, no simulator link); it never fails because the machine is slow.
# ELQ_KEEP=1 keeps the work folder with the logs and prints its path.
# ELQ_METRICS=1 gives each gateway --metrics (a free port each) and
# --discovery homeassistant, scrapes every gateway's /metrics once a second
# (curl) and prints the scrapes' latency beside the figures.
set -uo pipefail

ctl=${1:?"usage: publish_scale.sh ELQ770CTL ELQ770_SIM [SECONDS [COUNT]]"}
sim=${2:?"usage: publish_scale.sh ELQ770CTL ELQ770_SIM [SECONDS [COUNT]]"}
seconds=${3:-60}
count=${4:-16}
for tool in mosquitto mosquitto_sub mosquitto_pub python3; do
  command -v "$tool" >/dev/null || { echo "publish_scale.sh: no $tool (apt-get install mosquitto mosquitto-clients)" >&2; exit 2; }
done
for program in "$ctl" "$sim"; do
  [ -x "$program" ] || { echo "publish_scale.sh: no $program (build it first)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/elq770-publish-scale.XXXXXX)
gateway_pids=()
sim_pids=()
broker_pid=
subscriber_pid=

# Ends what this script started, each by its own pid: SIGTERM, then SIGKILL
# for whatever is still there after 3 s.
stop_pids() {
  local pid alive
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 30); do
    alive=0
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && break
    sleep 0.1
  done
  for pid in "$@"; do kill -KILL "$pid" 2>/dev/null; done
  for pid in "$@"; do wait "$pid" 2>/dev/null; done
}

cleanup() {
  stop_pids "${gateway_pids[@]}" ${subscriber_pid:+"$subscriber_pid"} "${sim_pids[@]}" ${broker_pid:+"$broker_pid"}
  if [ "${ELQ_KEEP:-0}" = 1 ]; then
    echo "work folder kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# CPU ticks (utime + stime) of one process; empty when it is gone. The fields
# are counted after the ")" that ends the command name.
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  set -- $stat
  echo $(( ${12} + ${13} ))
}

wait_for() {   # wait_for TENTHS COMMAND...: 0 once COMMAND succeeds
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

gone() { ! kill -0 "$1" 2>/dev/null; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

echo "machine: $(nproc) cores, $(mosquitto -h 2>/dev/null | head -1), load before: $(cut -d' ' -f1-3 /proc/loadavg)"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/broker.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence false
log_dest stderr
log_type error
log_type warning
log_type notice
EOF
# The log goes to stderr: a broker started as root drops to the user
# mosquitto, which could not open a file in the work folder.
mosquitto -c "$work/broker.conf" 2>"$work/broker.log" &
broker_pid=$!
if ! wait_for 50 port_open "$port" || ! kill -0 "$broker_pid" 2>/dev/null; then
  echo "publish_scale.sh: the broker did not start on 127.0.0.1:$port (see $work/broker.log)" >&2
  ELQ_KEEP=1
  exit 2
fi

for i in $(seq "$count"); do
  "$sim" --link "$work/dev$i" --seed "$i" >"$work/sim$i.log" 2>&1 &
  sim_pids+=($!)
done
for i in $(seq "$count"); do
  if ! wait_for 50 test -L "$work/dev$i"; then
    echo "publish_scale.sh: simulator $i made no link (see $work/sim$i.log)" >&2
    ELQ_KEEP=1
    exit 2
  fi
done

# The subscriber first, so that nothing a gateway sends is missed; a probe
# message shows that its subscription stands and that its file is written.
received=$work/received.txt
mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -i elq770-scale-subscriber -F '%U %t %p' \
  -t 'elq770/+/measurement' -t 'elq770/+/status' >"$received" 2>"$work/subscriber.log" &
subscriber_pid=$!
probe_seen() {
  mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t elq770/probe/status -m probe 2>/dev/null
  grep -q ' elq770/probe/status probe$' "$received"
}
if ! wait_for 50 probe_seen; then
  echo "publish_scale.sh: the subscriber receives nothing (see $work/subscriber.log)" >&2
  ELQ_KEEP=1
  exit 2
fi

names=()
started_ns=()
metrics_ports=()
scraper_pid=
for i in $(seq "$count"); do
  name=$(printf 'gw%02d' "$i")
  names+=("$name")
  extra=()
  if [ "${ELQ_METRICS:-0}" = 1 ]; then
    metrics_ports+=("$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')")
    extra=(--metrics "${metrics_ports[-1]}" --discovery homeassistant)
  fi
  "$ctl" publish --port "$work/dev$i" --broker "mqtt://127.0.0.1:$port" --name "$name" "${extra[@]}" \
    >"$work/$name.log" 2>&1 &
  gateway_pids+=($!)
  started_ns+=("$(date +%s%N)")
done

# Warm-up: every gateway has read its device and sent a first measurement.
all_measuring() {
  local name
  for name in "${names[@]}"; do
    grep -q " elq770/$name/measurement " "$received" || return 1
  done
}
if ! wait_for 150 all_measuring; then
  echo "note: not every gateway sent a measurement within 15 s; measuring anyway"
fi

read_cpu() {   # read_cpu ARRAY: ticks of the gateways, broker, subscriber, simulators
  local -n out=$1
  local pid sum=0 ticks
  out=()
  for pid in "${gateway_pids[@]}"; do out+=("$(cpu_ticks "$pid")"); done
  out+=("$(cpu_ticks "$broker_pid")" "$(cpu_ticks "$subscriber_pid")")
  for pid in "${sim_pids[@]}"; do
    ticks=$(cpu_ticks "$pid")
    sum=$(( sum + ${ticks:-0} ))
  done
  out+=("$sum")
}
# One scrape of every gateway a second, as a Prometheus would; each scrape's
# total time (connect to last byte) in seconds, one a line.
scrape_all() {
  local p
  while true; do
    for p in "${metrics_ports[@]}"; do
      curl -s -o /dev/null -w '%{time_total}\n' "http://127.0.0.1:$p/metrics"
    done >>"$work/scrapes.txt"
    sleep 1
  done
}
if [ ${#metrics_ports[@]} -gt 0 ]; then
  scrape_all &
  scraper_pid=$!
fi
read_cpu cpu_start
start_ns=$(date +%s%N)
sleep "$seconds"
read_cpu cpu_end
[ -n "$scraper_pid" ] && stop_pids "$scraper_pid"
if [ -s "$work/scrapes.txt" ]; then
  sort -n "$work/scrapes.txt" | awk '{ v[NR] = $1 } END {
    p99 = int(NR * 0.99); if (p99 < 1) p99 = 1
    printf "figure: scrapes of /metrics: %d, latency median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
      NR, 1000 * v[int((NR + 1) / 2)], 1000 * v[p99], 1000 * v[NR] }'
fi
end_ns=$(date +%s%N)
load_during=$(cut -d' ' -f1-3 /proc/loadavg)

# Gateways end as a user or systemd ends them; their exit codes are part of
# the figures (0 expected).
# A gateway still there after 10 s is killed and shows as "killed".
exit_codes=()
stopped_ns=$(date +%s%N)
for pid in "${gateway_pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
for pid in "${gateway_pids[@]}"; do
  if wait_for 100 gone "$pid"; then
    wait "$pid"
    exit_codes+=($?)
  else
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    exit_codes+=(killed)
  fi
done
gateway_pids=()
sleep 1
stop_pids "$subscriber_pid"
subscriber_pid=

python3 - "$received" "$(getconf CLK_TCK)" "$start_ns" "$end_ns" "$seconds" \
  "${names[*]}" "${cpu_start[*]}" "${cpu_end[*]}" "${exit_codes[*]}" "${started_ns[*]}" "$stopped_ns" <<'EOF'
import datetime
import json
import statistics
import sys

path, hz, start_ns, end_ns, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
names = sys.argv[6].split()
cpu_start = [int(x or 0) for x in sys.argv[7].split(" ")]
cpu_end = [int(x or 0) for x in sys.argv[8].split(" ")]
exit_codes = sys.argv[9].split()
started = [int(x) / 1e9 for x in sys.argv[10].split()]
stopped = int(sys.argv[11]) / 1e9
wall = (end_ns - start_ns) / 1e9


def share(i):
    return 100.0 * (cpu_end[i] - cpu_start[i]) / hz / wall


measurements = {name: [] for name in names}
statuses = {name: [] for name in names}
bad = 0
with open(path, encoding="utf-8", errors="replace") as f:
    for line in f:
        parts = line.rstrip("\n").split(" ", 2)
        if len(parts) < 3:
            continue
        arrival, topic, payload = float(parts[0]), parts[1], parts[2]
        name, _, leaf = topic[len("elq770/"):].partition("/")
        if name not in measurements:
            continue
        if leaf == "status":
            statuses[name].append(payload)
            continue
        try:
            body = json.loads(payload)
            time = datetime.datetime.fromisoformat(body["time"]).timestamp()
            measurements[name].append((arrival, time, body["samples"]))
        except (ValueError, KeyError, TypeError):
            bad += 1

print(f"gateways: {len(names)}, measured {wall:.1f} s (after every gateway's first measurement), "
      f"then SIGTERM and flush")
# "ends": the first message's time after the gateway's start and the last
# one's before its SIGTERM, in seconds; more than an interval (or two at the
# start, which includes opening the port) would mean messages lost at an
# end, where the gaps between the messages' times cannot show them.
print("gateway  received  expected  missing  duplicates  ends s     samples/msg  delay median/max ms   CPU %   exit  status")
total_received = total_expected = total_missing = total_duplicates = 0
delays = []
for i, name in enumerate(names):
    rows = measurements[name]
    times = sorted({t for _, t, _ in rows})
    steps = [b - a for a, b in zip(times, times[1:])]
    interval = statistics.median(steps) if steps else 1.0
    expected = round((times[-1] - times[0]) / interval) + 1 if times else 0
    duplicates = len(rows) - len(times)
    missing = expected - len(times)
    own = [(arrival - time) * 1000 for arrival, time, _ in rows]
    delays += own
    samples = statistics.mean(s for _, _, s in rows) if rows else 0
    total_received += len(rows)
    total_expected += expected
    total_missing += missing
    total_duplicates += duplicates
    delay = f"{statistics.median(own):7.1f} / {max(own):7.1f}" if own else "      -"
    ends = f"{times[0] - started[i]:.2f}/{stopped - times[-1]:.2f}" if times else "-"
    print(f"{name:7}  {len(rows):8}  {expected:8}  {missing:7}  {duplicates:10}  {ends:9}  {samples:11.1f}  "
          f"{delay:>19}  {share(i):6.2f}  {exit_codes[i] if i < len(exit_codes) else '?':>4}  "
          f"{' > '.join(statuses[name])}")
shares = [share(i) for i in range(len(names))]
n = len(names)
print(f"figure: measurement messages received {total_received} of {total_expected} expected, "
      f"{total_missing} missing, {total_duplicates} twice, {bad} unreadable")
if delays:
    ordered = sorted(delays)
    print(f"figure: end of interval to the subscriber: median {statistics.median(ordered):.1f} ms, "
          f"99th percentile {ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]:.1f} ms, "
          f"max {ordered[-1]:.1f} ms")
if shares:
    print(f"figure: CPU per gateway (% of one core): median {statistics.median(shares):.2f}, "
          f"min {min(shares):.2f}, max {max(shares):.2f}; all {n} together {sum(shares):.2f}")
print(f"figure: CPU of the broker {share(n):.2f} %, of the subscriber {share(n + 1):.2f} %, "
      f"of the {n} simulators together {share(n + 2):.2f} % (the simulators stand in for the devices)")
EOF
rc=$?
echo "load during: $load_during, after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$rc"
