#!/usr/bin/env bash
# Many hosts at once: psvigil-cli watch --all against N SSH sessions and N telnet sessions of
# this machine (its own sshd and xinetd, configured to allow that many), every 5 s. Reports per
# size when the logins ended, how late any later round ended after its tick, failures, peak RSS,
# average CPU, and how long it took to end every session on SIGTERM.
# Usage (as root): bench/multi_host/run.sh [SECONDS] [JOBS] [SIZES...]   (30 32 10 25 50 100)
set -euo pipefail
cd "$(dirname "$0")/../.."
duration=${1:-30}
jobs=${2:-32}
shift 2 2>/dev/null || shift $#
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 25 50 100)
[ "$(id -u)" -eq 0 ] || { echo "run as root (it starts sshd and xinetd)" >&2; exit 1; }
cli=${PSVIGIL_CLI:-$PWD/build/bin/psvigil-cli} # another build (a sanitizer one) by its path
[ -x "$cli" ] && [ -f build/lib/libLanvex.so ] || cmake --build build --target psvigil-cli lanvex comreg >/dev/null

work=$(mktemp -d)
export VIGIL_PEERS_DIR=$work/peers
daemons=()
cleanup() {
  for p in "${daemons[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# The throwaway account of scripts/peers (its own peers are stopped at once: ours allow more).
# shellcheck disable=SC1091
source scripts/peers start >/dev/null 2>&1 || true
scripts/peers stop >/dev/null 2>&1 || true
user=vigiltest
password=$(cat /var/lib/vigil-peers/password)
export COMRT_REGISTRY=$work/registry.reg HOME=$work/home # known_hosts stays in here
mkdir -p "$HOME"
build/bin/comreg "$PWD/build/lib/libLanvex.so" >/dev/null

free_port() { perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Listen=>1,LocalAddr=>"127.0.0.1:0")->sockport'; }

# sshd allowing a hundred logins at once, one session each.
ssh_port=$(free_port)
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1:$ssh_port
HostKey $work/host_key
PidFile $work/sshd.pid
AllowUsers $user
PasswordAuthentication yes
KbdInteractiveAuthentication no
UsePAM no
PrintMotd no
MaxStartups 300
MaxSessions 10
EOF
mkdir -p /run/sshd
$(command -v sshd || echo /usr/sbin/sshd) -D -f "$work/sshd_config" -E "$work/sshd.log" &
daemons+=("$!")

# xinetd with no cap on telnet sessions.
telnet_port=$(free_port)
cat >"$work/xinetd.conf" <<EOF
defaults
{
    instances = UNLIMITED
    per_source = UNLIMITED
    cps = 1000 1
}
service bench-telnet
{
    type        = UNLISTED
    port        = $telnet_port
    bind        = 127.0.0.1
    socket_type = stream
    protocol    = tcp
    wait        = no
    user        = root
    server      = $(command -v in.telnetd || command -v telnetd)
    disable     = no
    flags       = REUSE
}
EOF
xinetd -dontfork -f "$work/xinetd.conf" >/dev/null 2>&1 &
daemons+=("$!")
sleep 1

# A host list of n hosts, all this machine, refreshed every 5 s, connections kept open.
host_list() { # file address port n
  perl -e 'my ($a, $port, $n, $u, $p) = @ARGV; print pack("l<", $n);
    print pack("l<l<l<a128a20a20l<a40l<l<a20", 0, 1, 5, $a, $u, $p, $port, "", 0, 0, "") for 1 .. $n' \
    "$2" "$3" "$4" "$user" "$password" >"$1"
}

printf '%-7s %5s %12s %14s %9s %12s %10s %8s\n' transport hosts first-round 'late-max(median)' failures 'peak-RSS(MB)' 'CPU(cores)' 'stop(s)'
for transport in ${TRANSPORTS:-ssh telnet}; do
  for n in "${sizes[@]}"; do
    if [ "$transport" = ssh ]; then host_list "$work/hosts.cfg" "ssh://127.0.0.1" "$ssh_port" "$n"
    else host_list "$work/hosts.cfg" 127.0.0.1 "$telnet_port" "$n"; fi
    "$cli" watch --all --hosts "$work/hosts.cfg" --jobs "$jobs" --format json >"$work/out.json" 2>/dev/null &
    pid=$!
    sleep "$duration"
    peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    stop_from=$(date +%s%N)
    kill -TERM "$pid"
    wait "$pid" || true
    stop_ms=$(( ($(date +%s%N) - stop_from) / 1000000 ))
    python3 - "$work/out.json" "$n" "$transport" "$peak" "$ticks" "$(getconf CLK_TCK)" "$duration" "$stop_ms" <<'PY'
import json, sys, datetime
path, n, transport, peak, ticks, hz, duration, stop_ms = sys.argv[1:]
lines = [json.loads(l) for l in open(path) if l.strip()]
def t(s): return datetime.datetime.strptime(s, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=datetime.timezone.utc).timestamp()
ends = [(l["host"], t(l["time"]), l["duration_seconds"], l["ok"]) for l in lines]
t0 = min(e - d for _, e, d, _ in ends) if ends else 0
# The first refresh of a host is its login: reported apart; the later ones are measured
# against the tick they belong to.
first, seen, lates = 0.0, set(), [0.0]
for host, e, d, ok in ends:
    if host not in seen:
        seen.add(host)
        first = max(first, e - t0)
        continue
    k = int((e - d - t0 + 0.5) // 5)
    lates.append(e - (t0 + 5 * k))
lates.sort()
late, median = lates[-1], lates[len(lates) // 2]
failures = sum(1 for *_, ok in ends if not ok)
print("%-7s %5s %12.2f %8.2f (%.2f) %9d %12.1f %10.3f %8.2f" % (transport, n, first, late, median, failures,
      int(peak) / 1024, int(ticks) / int(hz) / float(duration), int(stop_ms) / 1000))
# Why refreshes failed, most frequent first, so a failure count can be told apart from noise.
reasons = {}
for l in lines:
    if not l["ok"]:
        reasons[l["status"]] = reasons.get(l["status"], 0) + 1
for why, count in sorted(reasons.items(), key=lambda r: -r[1])[:3]:
    print("        %d x %s" % (count, why[:150]))
PY
  done
done
