#!/usr/bin/env bash
# The main job: builds the Windows service exe and says what was built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target KORVAL_Update_Service
exe=build/mingw/src/KORVAL_Update_Service.exe
echo
echo "Built: $exe ($(stat -c %s "$exe") bytes)"
x86_64-w64-mingw32-objdump -p "$exe" | grep "DLL Name" | sed 's/^\s*/  imports /'
