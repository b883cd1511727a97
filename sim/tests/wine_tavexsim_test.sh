#!/usr/bin/env bash
# tavexsim.exe under Wine: it starts, answers a frame on its card port from
# outside, obeys the control port and ends on "shutdown".
#   wine_tavexsim_test.sh WINE-RUN BIN-DIR
set -u
launcher=$1
bin=$2
fail() { echo "FAILED: $*"; [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/network.json" <<'JSON'
{ "control_port": 0,
  "cards": [ { "card": 0, "port": 0, "stations": [
    { "station": 1, "type": "ZOLT", "registers": { "0": [10, 20] } },
    { "station": 7, "type": "EVR420", "events": [ { "code": 33, "state": 0, "time": "2024-05-01 07:59:58.250" } ] } ] } ] }
JSON

"$launcher" "$bin/tavexsim.exe" --quiet "$("$launcher" --winpath "$work/network.json")" >"$work/out.txt" 2>&1 &
sim_pid=$!
for _ in $(seq 1 600); do
  grep -q '^ready' "$work/out.txt" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || fail "tavexsim.exe ended early: $(cat "$work/out.txt")"
  sleep 0.1
done
grep -q '^ready' "$work/out.txt" || fail "tavexsim.exe did not get ready"
card_port=$(sed -n 's/^card 0 listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/out.txt" | tr -d '\r')
control_port=$(sed -n 's/^control port 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/out.txt" | tr -d '\r')
[ -n "$card_port" ] && [ -n "$control_port" ] || fail "no ports in: $(cat "$work/out.txt")"

exec 3<>"/dev/tcp/127.0.0.1/$card_port" || fail "cannot connect to card 0"
printf '\x01\x03\x64\x00\x00\x02' >&3
reply=$(timeout 10 head -c 10 <&3 | od -An -tx1 | tr -s ' \n' ' ')
[ "$reply" = " 01 07 65 00 00 02 00 0a 00 14 " ] || fail "read reply was '$reply'"
printf '\x07\x02\x0f\x11\x00' >&3
reply=$(timeout 10 head -c 15 <&3 | od -An -tx1 | tr -s ' \n' ' ')
[ "$reply" = " 07 0c 0f 11 00 18 05 01 07 3b 3a 00 fa 80 21 " ] || fail "event reply was '$reply'"

exec 4<>"/dev/tcp/127.0.0.1/$control_port" || fail "cannot connect to the control port"
printf 'set 0 1 1 0x1234\nget 0 1 0 2\ncounters 0\nshutdown\n' >&4
answer=$(timeout 10 cat <&4 | tr -d '\r')
echo "$answer" | grep -qx '10 4660' || fail "get answered: $answer"
echo "$answer" | grep -q '^card 0 connections 1 requests 2 replies 2 ' || fail "counters answered: $answer"
exec 3>&- 4>&-

for _ in $(seq 1 200); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$sim_pid" 2>/dev/null && fail "tavexsim.exe did not end on shutdown"
wait "$sim_pid" || fail "tavexsim.exe ended with status $?"
echo "1 passed, 0 failed"
