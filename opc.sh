#!/bin/bash
# The opc command-line client under Wine, against the OPC server registered
# in the prefix:
#   ./opc.sh status        ./opc.sh read PUMPS:DIT:0        ./opc.sh --help
# The prefix's other processes (driver, live view) are left running.
root=$(cd "$(dirname "$0")" && pwd)
exe=$root/build/win64/bin/opc.exe
if [ ! -f "$exe" ]; then
  echo "opc.sh: build it first: cmake --build --preset win64 --target opc" >&2
  exit 2
fi
VRT_WINE_KEEP=1 exec "$root/cmake/wine-run" "$exe" "$@"
