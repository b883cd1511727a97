#!/usr/bin/env bash
# The Wine launcher: registry helper, path helper, and nothing left running
# in the prefix when the program it ran has ended.
set -u
launcher=$1
bin=$2
fail() { echo "FAILED: $*"; exit 1; }

key='HKLM\Software\Kalvento\Tavex\Config'
"$launcher" --reg-set "$key" LauncherProbe 'C:\VRT\With Blank.VRT' || fail "--reg-set"
"$launcher" reg query "$key" /v LauncherProbe | grep -q 'LauncherProbe *REG_SZ *C:\\VRT\\With Blank.VRT' ||
  fail "value not found after --reg-set"
"$launcher" --reg-dword "$key" LauncherNumber 42 || fail "--reg-dword"
"$launcher" reg query "$key" /v LauncherNumber | grep -q 'REG_DWORD *0x2a' || fail "dword not found"

[ "$("$launcher" --winpath /work/x/y.exe)" = 'Z:\work\x\y.exe' ] || fail "--winpath"

# A client that starts the registered driver (detached) and then ends: the
# launcher must end the driver too.
"$launcher" --reg-set "$key" DriverExe "$("$launcher" --winpath "$bin/dit_probe_driver.exe")" || fail "DriverExe"
"$launcher" --reg-set "$key" ConfigFile 'C:\nowhere.VRT' || fail "ConfigFile"
printf 'cb\nexit\n' | "$launcher" "$bin/dit_probe_nio.exe" | grep -q '^cb ok' || fail "client did not open the block"
sleep 1
if pgrep -f 'dit_probe_driver' >/dev/null; then fail "a driver is still running after the launcher returned"; fi
"$launcher" reg delete "$key" /v DriverExe /f >/dev/null 2>&1
rm -f "$bin/probe_starts.txt"
echo "1 passed, 0 failed"
