#!/usr/bin/env bash
# Two simulators on the same network file at once, each told to take free
# ports: both get ready on ports of their own, whatever ports the file names
# (the demo's may be held by ./run), and both end on "shutdown".
#   free_ports_test.sh TAVEXSIM NETWORK.json
set -u
sim=$1
network=$2
work=$(mktemp -d)
pids=()
fail() {
  echo "FAILED: $*"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  exit 1
}
trap 'rm -rf "$work"' EXIT

for n in 1 2; do
  "$sim" --quiet --free-ports "$network" >"$work/out$n.txt" 2>&1 &
  pids+=($!)
done
for n in 1 2; do
  for _ in $(seq 1 100); do grep -q '^ready' "$work/out$n.txt" && break; sleep 0.1; done
  grep -q '^ready' "$work/out$n.txt" || fail "simulator $n did not get ready: $(cat "$work/out$n.txt")"
done
card1() { sed -n 's/^card 1 listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/out$1.txt"; }
control() { sed -n 's/^control port 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/out$1.txt"; }
[ -n "$(card1 1)" ] && [ "$(card1 1)" != "$(card1 2)" ] || fail "card 1 ports '$(card1 1)' and '$(card1 2)'"
[ "$(control 1)" != "$(control 2)" ] || fail "both control ports are $(control 1)"
for n in 1 2; do
  exec 3<>"/dev/tcp/127.0.0.1/$(control $n)" || fail "cannot reach simulator $n's control port"
  echo shutdown >&3
  exec 3>&-
done
for n in 0 1; do
  wait "${pids[$n]}" || fail "simulator $((n + 1)) ended with status $?"
done
echo "two simulators on free ports: passed"
