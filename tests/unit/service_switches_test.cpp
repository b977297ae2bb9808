#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Services/ServiceSwitches.h"

namespace {

struct SwitchRow {
  std::vector<std::wstring> arguments;
  ProgramMode mode;
  bool silent;
};

const char* ModeName(ProgramMode mode) {
  switch (mode) {
    case ProgramMode::Install:
      return "Install";
    case ProgramMode::Uninstall:
      return "Uninstall";
    case ProgramMode::Check:
      return "Check";
    case ProgramMode::Update:
      return "Update";
    case ProgramMode::Status:
      return "Status";
    case ProgramMode::Usage:
      return "Usage";
    default:
      return "RunService";
  }
}

TEST(ServiceSwitchesTest, Table) {
  using M = ProgramMode;
  const SwitchRow rows[] = {
      {{}, M::RunService, false},
      {{L"/install"}, M::Install, false},
      {{L"-INSTALL"}, M::Install, false},
      {{L"/Install"}, M::Install, false},
      {{L"-iNsTaLl"}, M::Install, false},
      {{L"/install:x"}, M::Usage, false},
      {{L"install"}, M::RunService, false},
      {{L"/installx"}, M::Usage, false},
      {{L"/instal"}, M::Usage, false},
      {{L"//install"}, M::Usage, false},
      {{L"\\install"}, M::RunService, false},
      {{L"/ install"}, M::Usage, false},
      {{L"/"}, M::Usage, false},
      {{L""}, M::RunService, false},
      {{L"/install", L"/uninstall"}, M::Install, false},
      {{L"/uninstall", L"/install"}, M::Install, false},
      {{L"/uninstall"}, M::Uninstall, false},
      {{L"-UNINSTALL"}, M::Uninstall, false},
      {{L"/uninstall:"}, M::Usage, false},
      {{L"/install", L"/silent"}, M::Install, true},
      {{L"/SILENT", L"/INSTALL"}, M::Install, true},
      {{L"foo", L"-Silent", L"bar", L"-uninstall", L"baz"}, M::Uninstall, true},
      {{L"/silent"}, M::RunService, true},
      {{L"/silentx", L"/install"}, M::Usage, false},
      {{L"/INSTAL"}, M::Usage, false},
      {{L"-"}, M::Usage, false},
      {{L"/install", L"/silnet"}, M::Usage, false},
      {{L"/install /silent"}, M::Usage, false},
      {{L"/check"}, M::Check, false},
      {{L"-CHECK"}, M::Check, false},
      {{L"/Update"}, M::Update, false},
      {{L"-uPdAtE"}, M::Update, false},
      {{L"check"}, M::RunService, false},
      {{L"/update:now"}, M::Usage, false},
      {{L"/checks"}, M::Usage, false},
      {{L"/update", L"/check"}, M::Check, false},
      {{L"/check", L"/install", L"/silent"}, M::Install, true},
      {{L"/update", L"/uninstall"}, M::Uninstall, false},
      {{L"x", L"/update", L"y"}, M::Update, false},
      {{L"/status"}, M::Status, false},
      {{L"-STATUS", L"/check", L"/update"}, M::Status, false},
      {{L"/status", L"/uninstall"}, M::Uninstall, false},
      {{L"/status", L"/bogus"}, M::Usage, false},
  };
  for (const SwitchRow& row : rows) {
    std::wstring joined;
    for (const std::wstring& a : row.arguments) joined += L"[" + a + L"]";
    SCOPED_TRACE(std::string(joined.begin(), joined.end()));
    ServiceSwitches switches = ParseServiceSwitches(row.arguments);
    EXPECT_STREQ(ModeName(switches.Mode()), ModeName(row.mode));
    EXPECT_EQ(switches.silent, row.silent);
  }
}

TEST(ServiceSwitchesTest, SwitchNeedsPrefixAndTheWholeWord) {
  EXPECT_TRUE(IsSwitch(L"/SILENT", L"SILENT"));
  EXPECT_TRUE(IsSwitch(L"-silent", L"SILENT"));
  EXPECT_FALSE(IsSwitch(L"+silent", L"SILENT"));
  EXPECT_FALSE(IsSwitch(L"/silen", L"SILENT"));
  EXPECT_FALSE(IsSwitch(L"/silent ", L"SILENT"));
  EXPECT_FALSE(IsSwitch(L" /silent", L"SILENT"));
}

}  // namespace
