// The load probe's own side refuses every argument list but the switch, a full DLL path and a
// full folder, with its own exit code: it never loads from a path the search would complete.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/Win32DllLoadProbe.h"

namespace {
struct ProbeArguments {
  const char* name;
  std::vector<std::wstring> arguments;
};

const ProbeArguments kRefused[] = {
    {"the switch alone", {L"/LADEPROBE"}},
    {"no folder", {L"/ladeprobe", L"C:\\korval\\Download\\KorvalAppServer.dll"}},
    {"a relative DLL", {L"/LADEPROBE", L"KorvalAppServer.dll", L"C:\\inetpub\\app1\\"}},
    {"a relative folder", {L"/LADEPROBE", L"C:\\korval\\KorvalAppServer.dll", L"app1"}},
    {"a drive-relative DLL", {L"/LADEPROBE", L"C:KorvalAppServer.dll", L"C:\\inetpub\\app1"}},
    {"a folder as DLL", {L"/LADEPROBE", L"C:\\korval\\", L"C:\\inetpub\\app1"}},
    {"a wildcard", {L"/LADEPROBE", L"C:\\korval\\*.dll", L"C:\\inetpub\\app1"}},
    {"one too many", {L"/LADEPROBE", L"C:\\korval\\a.dll", L"C:\\inetpub\\app1", L"C:\\x"}},
};

TEST(LoadProbeSwitch, RefusesArgumentsThatAreNotTwoFullPaths) {
  for (const ProbeArguments& row : kRefused) {
    SCOPED_TRACE(row.name);
    int code = 0;
    EXPECT_TRUE(RunDllLoadProbeSwitch(row.arguments, code));
    EXPECT_EQ(code, kLoadProbeBadArguments);
  }
  int code = 7;
  EXPECT_FALSE(RunDllLoadProbeSwitch({L"/UPDATE"}, code));
  EXPECT_FALSE(RunDllLoadProbeSwitch({}, code));
  EXPECT_EQ(code, 7);
}
}  // namespace
