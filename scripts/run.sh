#!/usr/bin/env bash
# The main job: builds the Windows service exe, registers it as a service in the project's own
# Wine prefix (build/run/wineprefix), starts it, shows its status and its run log, stops it and
# removes it again. Every step says what it does; no Wine process is left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
echo "== Building the service exe and the service-control helper"
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target KORVAL_Update_Service svcctl

exe=build/mingw/src/KORVAL_Update_Service.exe
svcctl=build/mingw/tests/tools/svcctl.exe
service=KORVAL_Update_Service

export WINEPREFIX="$root/build/run/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
folder_windows='C:\KORVAL Update Service'
folder="$WINEPREFIX/drive_c/KORVAL Update Service"
run_log="$folder/Protokolle/Protokoll.txt"

step() { echo; echo "== $*"; }

# Stops and deletes the service if it is registered.
remove_if_registered() {
  if wine "$svcctl" status "$service" >/dev/null 2>&1; then
    wine "$svcctl" control "$service" 1 >/dev/null 2>&1 || true
    wine "$svcctl" wait "$service" 1 20000 >/dev/null 2>&1 || true
    wine "$svcctl" delete "$service" >/dev/null 2>&1 || true
  fi
}

finish() {
  status=$?
  if [ -x "$(command -v wine)" ] && [ -d "$WINEPREFIX" ]; then
    # Whatever happened above, the prefix keeps no service of ours and no process runs on.
    remove_if_registered
    step "Stopping the Wine prefix (no process stays behind)"
    bash scripts/wine-prefix.sh stop "$WINEPREFIX"
  fi
  exit $status
}
trap finish EXIT

step "Booting the project's own Wine prefix: $WINEPREFIX"
bash scripts/wine-prefix.sh boot "$WINEPREFIX"
remove_if_registered  # left by an interrupted earlier run

step "Copying the exe to $folder_windows, with its INI file beside it"
mkdir -p "$folder/Protokolle"
cp "$exe" "$folder/KORVAL_Update_Service.exe"
printf '[VERZEICHNISSE]\r\nPROTOKOLLPFAD=%s\\Protokolle\r\n' "$folder_windows" \
  >"$folder/KORVAL_Update_Service.ini"
sed 's/^/  /' "$folder/KORVAL_Update_Service.ini" | tr -d '\r'

step "Registering: \"$folder_windows\\KORVAL_Update_Service.exe\" /INSTALL /SILENT"
code=0
wine "$folder_windows\\KORVAL_Update_Service.exe" /INSTALL /SILENT || code=$?
echo "  exit code $code"
[ "$code" -eq 0 ]
echo "  registration as the Service Control Manager holds it:"
wine "$svcctl" config "$service" | sed 's/^/    /'
echo "  description in the registry:"
wine reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service" /v Description |
  tr -d '\r' | grep Description | sed 's/^ */    /'

step "Starting the service"
wine "$svcctl" start "$service" >/dev/null
echo "  status (1 stopped, 2 start pending, 4 running, 7 paused):"
wine "$svcctl" wait "$service" 4 20000 | sed 's/^/    /'

step "The run log: $folder_windows\\Protokolle\\Protokoll.txt"
tr -d '\r' <"$run_log" | iconv -f CP1252 -t UTF-8 | sed 's/^/    /'

step "Stopping the service"
wine "$svcctl" control "$service" 1 >/dev/null
wine "$svcctl" wait "$service" 1 20000 | sed 's/^/    /'

step "Removing the service: KORVAL_Update_Service.exe /UNINSTALL /SILENT"
code=0
wine "$folder_windows\\KORVAL_Update_Service.exe" /UNINSTALL /SILENT || code=$?
echo "  exit code $code"
[ "$code" -eq 0 ]
if wine "$svcctl" status "$service" >/dev/null 2>&1; then
  echo "  the service is still registered" >&2
  exit 1
fi
echo "  the service is no longer registered"

log="$(dirname "$WINEPREFIX")/wine-services.log"
step "Event log entries of this run"
entries=$(grep -a 'err:eventlog' "$log" 2>/dev/null || true)
echo "${entries:-    (none)}"
