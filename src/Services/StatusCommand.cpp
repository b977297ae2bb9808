#include "Services/StatusCommand.h"

#include <memory>

#include "Services/OutcomeReporter.h"
#include "Services/ServiceMessages.h"
#include "core/CaughtError.h"
#include "core/StatusReport.h"

namespace {
constexpr std::size_t kMaxStatusBytes = 256 * 1024;
}

int RunStatusCommand(const EnginePlatform& platform, StatusFileStore& files, ConsoleOutput& out) {
  std::wstring path;
  try {
    path = StatusFilePath(TDLLSynchronisierer(platform).DLLKonfiguration().Protokollpfad());
  } catch (...) {
    out.WriteLine(ServiceFailedText(L"start", CaughtErrorMessage()));
    return 1;
  }
  std::optional<StatusBericht> bericht;
  try {
    if (std::optional<std::string> text = files.ReadPlain(path, kMaxStatusBytes)) {
      bericht = ParseStatusJson(*text);
    }
  } catch (...) {
    out.WriteLine(L"Status nicht lesbar: " + path + L": " + CaughtErrorMessage());
    return 1;
  }
  if (!bericht) {
    out.WriteLine(L"Kein Status vorhanden: " + path);
    return 1;
  }
  for (const std::wstring& line : StatusLines(*bericht)) out.WriteLine(line);
  return StatusExitCode(*bericht);
}
