#!/usr/bin/env bash
# Boots or stops the Wine prefix of a build tree.
#   wine-prefix.sh boot PREFIX   create the prefix if needed, then start wineserver and services.exe
#                                with their stderr in PREFIX/../wine-services.log (event log entries
#                                of services appear there as err:eventlog lines)
#   wine-prefix.sh stop PREFIX   end every Wine process of the prefix
set -euo pipefail
action=$1
export WINEPREFIX=$(realpath -m "$2")
export WINEDLLOVERRIDES="mscoree,mshtml="
log="$(dirname "$WINEPREFIX")/wine-services.log"

case "$action" in
  boot)
    wineserver -k 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/.korval-booted" ]; then
      rm -rf "$WINEPREFIX"
      mkdir -p "$WINEPREFIX"
      WINEDEBUG=-all wineboot -i >"$log" 2>&1
      wineserver -w >/dev/null 2>&1 </dev/null
      touch "$WINEPREFIX/.korval-booted"
    fi
    # urlmon's cache of earlier runs' bodies would only grow.
    rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Microsoft/Windows/INetCache
    # A persistent wineserver, and services.exe started with its stderr in a file: a pipe would
    # keep every later reader waiting until they end.
    wineserver -p >>"$log.server" 2>&1 </dev/null
    WINEDEBUG=-all,err+eventlog wineboot >"$log" 2>&1 </dev/null
    echo "wine prefix ready: $WINEPREFIX"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    echo "wine prefix stopped: $WINEPREFIX"
    ;;
  *) echo "usage: $0 boot|stop PREFIX" >&2; exit 2 ;;
esac
