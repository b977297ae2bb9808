#!/usr/bin/env bash
# The main job: a whole update by the real service under Wine. Starts the project's update server
# on 127.0.0.1 with a newer DLL, registers and starts the service in test mode in the project's
# own Wine prefix (build/run/wineprefix) with two target folders holding an older DLL and an
# appcmd stand-in that records the site commands, runs /CHECK (an update is due), waits for the
# first tick (two minutes), shows the run log, the site commands and the targets' new versions,
# runs /CHECK again (every copy current), then stops and removes the service and ends every
# process it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
echo "== Building the service exe, the test DLLs and the helper programs"
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target KORVAL_Update_Service svcctl appcmd dllversion \
  fixture_v2_1_0_0 fixture_v2_1_0_1 | tail -n 1

build=$root/build/mingw
exe=$build/src/KORVAL_Update_Service.exe
tools=$build/tests/tools
svcctl=$tools/svcctl.exe
service=KORVAL_Update_Service

export WINEPREFIX="$root/build/run/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
folder_windows='C:\KORVAL Update Service'
folder="$WINEPREFIX/drive_c/KORVAL Update Service"
sites="$WINEPREFIX/drive_c/inetpub"
inetsrv="$WINEPREFIX/drive_c/windows/system32/inetsrv"
run_log="$folder/Protokolle/Protokoll.txt"
server_pid=""

step() { echo; echo "== $*"; }

# Runs the exe with /CHECK, shows what it printed (OEM code page 437 in this prefix) and its exit
# code, and fails unless the exit code is the expected one.
check() {
  local expected=$1 code=0 out
  out=$(wine "$folder_windows\\KORVAL_Update_Service.exe" /CHECK) || code=$?
  printf '%s\n' "$out" | tr -d '\r' | iconv -f CP437 -t UTF-8 | sed 's/^/    /'
  echo "  exit code $code (0 every copy current, 2 an update is due, 1 the check failed)"
  [ "$code" -eq "$expected" ]
}

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
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  if [ -x "$(command -v wine)" ] && [ -d "$WINEPREFIX" ]; then
    # Whatever happened above, the prefix keeps no service of ours and no process runs on.
    remove_if_registered
    step "Stopping the Wine prefix and the update server (no process stays behind)"
    bash scripts/wine-prefix.sh stop "$WINEPREFIX"
  fi
  exit $status
}
trap finish EXIT

step "Booting the project's own Wine prefix: $WINEPREFIX"
bash scripts/wine-prefix.sh boot "$WINEPREFIX"
remove_if_registered  # left by an interrupted earlier run

step "Starting the update server on 127.0.0.1: it publishes version 2.1.0.1 and its DLL"
port_file=$(mktemp)
python3 tests/server/update_server.py --text /KORVALAppDLLVersion.txt=2.1.0.1 \
  --file /KorvalAppServer.dll="$build/fixtures/v2_1_0_1/KorvalAppServer.dll" >"$port_file" &
server_pid=$!
for _ in $(seq 50); do grep -q '^PORT ' "$port_file" && break; sleep 0.1; done
port=$(sed -n 's/^PORT //p' "$port_file")
rm -f "$port_file"
base="http://127.0.0.1:$port"
echo "  $base/KORVALAppDLLVersion.txt and $base/KorvalAppServer.dll"

step "Two IIS sites with the older DLL 2.1.0.0, and the appcmd stand-in in system32\\inetsrv"
rm -rf "$sites" "$folder"
for site in shop portal; do
  mkdir -p "$sites/$site"
  cp "$build/fixtures/v2_1_0_0/KorvalAppServer.dll" "$sites/$site/"
done
mkdir -p "$inetsrv"
cp "$tools/appcmd.exe" "$inetsrv/appcmd.exe"
rm -f "$inetsrv/appcmd-record.txt" "$inetsrv/appcmd-stop-delay-ms.txt"
wine "$tools/dllversion.exe" 'C:\inetpub\shop\KorvalAppServer.dll' \
  'C:\inetpub\portal\KorvalAppServer.dll' | tr -d '\r' | sed 's/^/  /'

step "Copying the exe to $folder_windows, with its INI file (test mode) beside it"
mkdir -p "$folder/Protokolle"
cp "$exe" "$folder/KORVAL_Update_Service.exe"
printf '%s\r\n' '[VERZEICHNISSE]' "PROTOKOLLPFAD=$folder_windows\\Protokolle" \
  'DLLPFAD1=C:\inetpub\shop' 'DLLPFAD2=C:\inetpub\portal' \
  '[ENTWICKLUNG]' 'Testmodus=1' \
  '[URLS]' "VersionsNr=$base/KORVALAppDLLVersion.txt" "KorvalAppServerDLL=$base/KorvalAppServer.dll" \
  >"$folder/KORVAL_Update_Service.ini"
tr -d '\r' <"$folder/KORVAL_Update_Service.ini" | sed 's/^/  /'

step "Checking by hand first: \"$folder_windows\\KORVAL_Update_Service.exe\" /CHECK (writes nothing)"
check 2

step "Registering: \"$folder_windows\\KORVAL_Update_Service.exe\" /INSTALL /SILENT"
code=0
wine "$folder_windows\\KORVAL_Update_Service.exe" /INSTALL /SILENT || code=$?
echo "  exit code $code"
[ "$code" -eq 0 ]
wine "$svcctl" config "$service" | tr -d '\r' | sed 's/^/    /'

step "Starting the service"
wine "$svcctl" start "$service" >/dev/null
echo "  status (1 stopped, 2 start pending, 4 running, 7 paused):"
wine "$svcctl" wait "$service" 4 20000 | tr -d '\r' | sed 's/^/    /'

step "Waiting for the first tick: test mode checks every 120 s"
for second in $(seq 0 5 200); do
  if [ -f "$run_log" ] && grep -aq -e 'Starte IIS neu\.' -e 'Fehler' -e 'Version aktuell' "$run_log"; then
    echo "  the update cycle ran after about $second s"
    break
  fi
  [ $((second % 20)) -eq 0 ] && echo "  $second s: $(tr -d '\r' <"$run_log" | tail -n 1 | iconv -f CP1252 -t UTF-8)"
  sleep 5
done

step "The run log: $folder_windows\\Protokolle\\Protokoll.txt"
tr -d '\r' <"$run_log" | iconv -f CP1252 -t UTF-8 | sed 's/^/    /'

step "The site commands the appcmd stand-in received (start ms, end ms, arguments | raw command line)"
sleep 2
sed 's/^/    /' "$inetsrv/appcmd-record.txt" 2>/dev/null || echo "    (none)"

step "The target DLLs now, and the downloaded DLL that stays in the download folder"
wine "$tools/dllversion.exe" 'C:\inetpub\shop\KorvalAppServer.dll' \
  'C:\inetpub\portal\KorvalAppServer.dll' "$folder_windows\\Download\\KorvalAppServer.dll" |
  tr -d '\r' | sed 's/^/  /'

step "Checking again: /CHECK"
check 0

step "Stopping the service"
wine "$svcctl" control "$service" 1 >/dev/null
wine "$svcctl" wait "$service" 1 20000 | tr -d '\r' | sed 's/^/    /'

step "Removing the service: KORVAL_Update_Service.exe /UNINSTALL /SILENT"
code=0
wine "$folder_windows\\KORVAL_Update_Service.exe" /UNINSTALL /SILENT || code=$?
echo "  exit code $code"
[ "$code" -eq 0 ]

log="$(dirname "$WINEPREFIX")/wine-services.log"
step "Event log entries of this run"
entries=$(grep -a 'err:eventlog' "$log" 2>/dev/null || true)
echo "${entries:-    (none)}"
