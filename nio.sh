#!/bin/bash
# The nio command-line client under Wine, beside a running ./run:
#   ./nio.sh read PUMPS:DIT:100        ./nio.sh --help for the rest.
# The prefix's other processes (driver, live view) are left running.
root=$(cd "$(dirname "$0")" && pwd)
exe=$root/build/win64/bin/nio.exe
if [ ! -f "$exe" ]; then
  echo "nio.sh: build it first: cmake --build --preset win64 --target nio VRTSTSR" >&2
  exit 2
fi
VRT_WINE_KEEP=1 exec "$root/cmake/wine-run" "$exe" "$@"
