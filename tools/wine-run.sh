#!/usr/bin/env bash
# Runs a console Windows program under Wine in the given prefix (made and
# prepared once by wine-prefix.sh), then stops that prefix's server.
#   tools/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -uo pipefail
prefix=$1; shift
"$(dirname "$0")/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY
wine "$@"
status=$?
wineserver -k 2>/dev/null
exit $status
