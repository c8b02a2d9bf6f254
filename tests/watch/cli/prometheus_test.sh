#!/usr/bin/env bash
# psvigil-cli serve scraped by a real Prometheus: this test's own process found through the
# query API for the local host, the page accepted by promtool, the host going down seen as
# psvigil_up 0, slow and oversized requests cut off, SIGTERM ending it all. Loopback only;
# every wait is bounded. Usage: prometheus_test.sh PSVIGIL_CLI
set -euo pipefail
cli=$1
for tool in prometheus promtool curl perl; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

free_port() { perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Listen=>1,LocalAddr=>"127.0.0.1:0")->sockport'; }

# One host, this computer, refreshed every second, keeping the lines of this script's own
# process; its ps is a stand-in that fails once the file "down" exists.
mkdir -p "$work/bin"
cat >"$work/bin/ps" <<EOF
#!/bin/sh
[ -e "$work/down" ] && exit 1
exec $(command -v ps) "\$@"
EOF
chmod +x "$work/bin/ps"
perl -e 'print pack("l<", 1),
  pack("l<l<l<a128a20a20l<a40l<l<a20", 0, 1, 1, "local:", "", "", 23, "", 0, 2, "prometheus_test")' \
  >"$work/psvigil.cfg"

port=$(free_port)
PATH="$work/bin:$PATH" "$cli" serve --listen "127.0.0.1:$port" --hosts "$work/psvigil.cfg" \
  2>"$work/serve.err" &
serve=$!
pids+=("$serve")

prom_port=$(free_port)
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: psvigil
    static_configs:
      - targets: ["127.0.0.1:$port"]
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
pids+=("$!")

# The value of an instant query's first sample, or nothing.
query() {
  curl -s --max-time 2 --get "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    perl -ne 'print $1 if /"value":\[[0-9.]+,"([^"]*)"\]/'
}
wait_for() { # query expected-value
  for _ in $(seq 1 60); do
    [ "$(query "$1")" = "$2" ] && return 0
    sleep 0.5
  done
  fail "$1 never became $2 (last: $(query "$1"))"
}

wait_for "count(psvigil_process_cpu_percent{host=\"local:\",pid=\"$$\",user=\"$(id -un)\"})" 1
echo "Prometheus sees this test's process $$ on the local host"

curl -s --max-time 5 "http://127.0.0.1:$port/metrics" >"$work/metrics.txt"
promtool check metrics <"$work/metrics.txt" || fail "promtool refused the page"
curl -s --max-time 5 -H 'Accept: application/openmetrics-text; version=1.0.0' \
  "http://127.0.0.1:$port/metrics" | tail -n 1 | grep -qx '# EOF' || fail "OpenMetrics without # EOF"
[ "$(curl -s -o /dev/null -w '%{http_code}' -X POST "http://127.0.0.1:$port/metrics")" = 405 ] ||
  fail "POST was answered"
[ "$(curl -s "http://127.0.0.1:$port/healthz")" = ok ] || fail "healthz"

touch "$work/down"
wait_for "psvigil_up{host=\"local:\"}" 0
echo "the host that went down shows psvigil_up 0"

# A request that never ends its headers, and one with too many of them, are cut off.
perl -MIO::Socket::INET -e '
  my ($port) = @ARGV;
  my $s = IO::Socket::INET->new(PeerAddr => "127.0.0.1:$port") or die "connect: $!";
  local $SIG{PIPE} = "IGNORE";
  my $start = time;
  print $s "GET /metrics HTTP/1.1\r\nHost: x\r\n";
  for (1 .. 40) { print $s "X-Slow: y\r\n" or last; select(undef, undef, undef, 0.25); }
  $s->shutdown(1);
  my $answer = ""; my $chunk;
  while (sysread($s, $chunk, 4096)) { $answer .= $chunk; }
  die "slow request was answered: $answer\n" if $answer =~ /^HTTP\/1.1 200/;
  die "slow request held for " . (time - $start) . " s\n" if time - $start > 8;
' "$port" || fail "slow request"
perl -MIO::Socket::INET -e '
  my ($port) = @ARGV;
  my $s = IO::Socket::INET->new(PeerAddr => "127.0.0.1:$port") or die;
  print $s "GET /metrics HTTP/1.1\r\n", join("", map { "X-$_: y\r\n" } 1 .. 200), "\r\n";
  my $answer = ""; my $chunk;
  while (sysread($s, $chunk, 4096)) { $answer .= $chunk; }
  die "oversized request was answered: $answer\n" if $answer =~ /^HTTP\/1.1 200/;
' "$port" || fail "oversized request"
echo "slow and oversized requests cut off"

kill -TERM "$serve"
for _ in $(seq 1 50); do kill -0 "$serve" 2>/dev/null || break; sleep 0.1; done
kill -0 "$serve" 2>/dev/null && fail "serve still runs 5 s after SIGTERM"
wait "$serve" || fail "serve ended with status $?"
echo "PASS"
