// KORVAL_Release_Tool: makes the keys, signs the release file and the timestamps of the signed
// releases, and checks a release folder as a host would. Exit codes: 0 done, 1 refused or
// failed, 87 a command line it does not understand (with the usage text).
#include <cstring>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "ReleaseToolArgs.h"
#include "ToolCommands.h"
#include "ToolConsole.h"
#include "win32/Win32StatusFileStore.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadCommandLine = 87;  // ERROR_INVALID_PARAMETER

std::vector<std::wstring> ProgramArguments(int argc, wchar_t** argv) {
  return std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void Run(const ToolRequest& request, ConsoleOutput& out) {
  const std::int64_t now = UnixTimeNow();
  std::visit(
      [&](const auto& r) {
        using Request = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<Request, KeyPairRequest>) {
          RunKeyPair(r, out);
        } else if constexpr (std::is_same_v<Request, ReleaseRequest>) {
          RunRelease(r, out, now);
        } else if constexpr (std::is_same_v<Request, TimestampRequest>) {
          RunTimestamp(r, out, now);
        } else {
          RunCheck(r, out, now);
        }
      },
      request);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ToolConsole out;
  ToolRequest request;
  try {
    request = ParseToolCommandLine(ProgramArguments(argc, argv));
  } catch (const UsageError& e) {
    out.WriteLine(e.Message());
    for (const std::wstring& line : UsageLines()) out.WriteLine(line);
    return kBadCommandLine;
  }
  try {
    Run(request, out);
    return kDone;
  } catch (const Refused& e) {
    out.WriteLine(L"Abgelehnt: " + e.Message());
  } catch (const Exception& e) {
    out.WriteLine(L"Fehler: " + e.Message());
  } catch (const std::exception& e) {
    out.WriteLine(L"Fehler: " + std::wstring(e.what(), e.what() + std::strlen(e.what())));
  }
  return kFailed;
}
