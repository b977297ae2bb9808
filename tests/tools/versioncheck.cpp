// Runs the engine's version check once (or a few times) with the real Win32 seams, as the service
// will, before the service itself exists.
//   versioncheck.exe [FOLDER] [--checks N] [--cycle]
// FOLDER is the program folder (KORVAL_Update_Service.ini is read there, and the run log goes
// where it says); without it the folder of this exe. Prints one line per check, UTF-8:
// "Result: true" or "Result: false", then "Online: <online version text>". A configuration that
// does not load prints "ERROR <message>" and exits with 1. With --cycle each check is a whole
// update cycle: when it finds an older DLL, the download and the site restart with the exchange
// follow.
#include <windows.h>

#include <string>

#include "Models/DLLSynchronisierer.h"
#include "Services/UpdateCycle.h"
#include "Utf8Output.h"
#include "core/Exception.h"
#include "win32/ProgramFolder.h"
#include "win32/Win32DllLoadProbe.h"
#include "win32/Win32Platform.h"

int wmain(int argc, wchar_t** argv) {
  // The exchange's load probe starts this program again, as it starts the service's exe.
  if (int code = 0; RunDllLoadProbeSwitch({argv + 1, argv + argc}, code)) return code;
  std::wstring folder = ProgramFolder();
  int checks = 1;
  bool wholeCycle = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--cycle") {
      wholeCycle = true;
    } else if (arg == L"--checks" && i + 1 < argc) {
      checks = _wtoi(argv[++i]);
    } else {
      folder = arg;
      if (folder.back() != L'\\') folder += L'\\';
    }
  }
  Win32Platform platform(folder);
  try {
    TDLLSynchronisierer engine(platform.Engine());
    for (int check = 0; check < checks; ++check) {
      bool result = wholeCycle ? RunUpdateCycle(engine).updateDue : engine.PruefeAufNeueVersion();
      PrintUtf8(std::wstring(L"Result: ") + (result ? L"true" : L"false") + L"\nOnline: " +
                engine.OnlineVersion() + L"\n");
    }
  } catch (const Exception& e) {
    PrintUtf8(L"ERROR " + e.Message() + L"\n");
    return 1;
  }
  return 0;
}
