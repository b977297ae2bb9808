#include <gtest/gtest.h>

#include "Services/ServiceInstaller.h"
#include "support/FakeRegistration.h"
#include "support/FakeRegistryKeys.h"

namespace {

const std::wstring kDisplay = L"Dienst zum aktualisieren von KORVAL Inhalten.";

class ServiceInstallerTest : public ::testing::Test {
 protected:
  int Run(ProgramMode mode, bool silent,
          const std::wstring& programFile = L"C:\\Dienste\\KORVAL_Update_Service.exe") {
    RegistrationPlatform platform;
    platform.openDatabase = [this]() -> std::unique_ptr<ServiceDatabase> {
      calls_.Record(L"open");
      return std::make_unique<FakeServiceDatabase>(calls_);
    };
    platform.afterInstall = [this] { calls_.Record(L"afterInstall"); };
    platform.registerEventSources = [this] { calls_.Record(L"registerEventSources"); };
    platform.removeEventSources = [this] { calls_.Record(L"removeEventSources"); };
    platform.messages = &messages_;
    platform.programFile = programFile;
    platform.programFileName = L"KORVAL_Update_Service.exe";
    return RunRegistration(mode, silent, platform);
  }
  std::vector<std::wstring> Calls() { return calls_.calls; }

  RegistrationCalls calls_;
  RecordingMessages messages_;
};

TEST_F(ServiceInstallerTest, ProgramPathIsQuotedOnlyWhenItHoldsABlank) {
  EXPECT_EQ(RegisteredProgramPath(L"C:\\Dienste\\svc.exe"), L"C:\\Dienste\\svc.exe");
  EXPECT_EQ(RegisteredProgramPath(L"C:\\Program Files\\KORVAL\\svc.exe"),
            L"\"C:\\Program Files\\KORVAL\\svc.exe\"");
  EXPECT_EQ(RegisteredProgramPath(L"C:\\A\tB\\svc.exe"), L"C:\\A\tB\\svc.exe");
}

TEST_F(ServiceInstallerTest, InstallCreatesTheServiceWithItsDataThenWritesTheDescription) {
  EXPECT_EQ(Run(ProgramMode::Install, false, L"C:\\Program Files\\K\\KORVAL_Update_Service.exe"),
            0);
  EXPECT_EQ(Calls(),
            (std::vector<std::wstring>{L"open", L"create", L"afterInstall", L"registerEventSources",
                                       L"failureActions", L"close"}));
  ASSERT_EQ(calls_.failureActions.size(), 1u);
  EXPECT_EQ(calls_.failureActions[0], ServiceFailureActions());
  ServiceRegistrationData expected{L"KORVAL_Update_Service",
                                   kDisplay,
                                   0x10,
                                   2,
                                   1,
                                   L"\"C:\\Program Files\\K\\KORVAL_Update_Service.exe\""};
  ASSERT_EQ(calls_.created.size(), 1u);
  EXPECT_EQ(calls_.created[0], expected);
  EXPECT_EQ(messages_.shown,
            (std::vector<ShownBox>{{L"information", L"Service erfolgreich installiert"}}));
}

TEST_F(ServiceInstallerTest, SilentHidesOnlySuccess) {
  EXPECT_EQ(Run(ProgramMode::Install, true), 0);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(Run(ProgramMode::Uninstall, true), 0);
  EXPECT_TRUE(messages_.shown.empty());
  calls_.failingCall = L"create";
  calls_.failingCode = 1073;
  EXPECT_EQ(Run(ProgramMode::Install, true), 1073);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].kind, L"error");
}

TEST_F(ServiceInstallerTest, UninstallOpensByNameAndDeletes) {
  EXPECT_EQ(Run(ProgramMode::Uninstall, false), 0);
  EXPECT_EQ(Calls(), (std::vector<std::wstring>{L"open", L"openEntry KORVAL_Update_Service",
                                                L"stop 30000", L"delete", L"removeEventSources", L"close"}));
  EXPECT_EQ(messages_.shown,
            (std::vector<ShownBox>{{L"information", L"Service erfolgreich deinstalliert"}}));
}

struct FailureRow {
  ProgramMode mode;
  const wchar_t* failingCall;
  std::uint32_t code;
  std::vector<std::wstring> calls;
  const wchar_t* verb;
};

// Every failure shows its text whatever SILENT says, exits with the platform's code, and never
// leaves a service created in this run behind.
TEST_F(ServiceInstallerTest, FailuresShowTheTextAndExitWithTheErrorCode) {
  const FailureRow rows[] = {
      {ProgramMode::Install, L"create", 1073, {L"open", L"create", L"close"}, L"installiert"},
      {ProgramMode::Install,
       L"afterInstall",
       5,
       {L"open", L"create", L"afterInstall", L"removeEventSources", L"delete", L"close"},
       L"installiert"},
      {ProgramMode::Install,
       L"registerEventSources",
       5,
       {L"open", L"create", L"afterInstall", L"registerEventSources", L"removeEventSources",
        L"delete", L"close"},
       L"installiert"},
      {ProgramMode::Install,
       L"failureActions",
       5,
       {L"open", L"create", L"afterInstall", L"registerEventSources", L"failureActions",
        L"removeEventSources", L"delete", L"close"},
       L"installiert"},
      {ProgramMode::Uninstall,
       L"removeEventSources",
       5,
       {L"open", L"openEntry KORVAL_Update_Service", L"stop 30000", L"delete",
        L"removeEventSources", L"close"},
       L"deinstalliert"},
      {ProgramMode::Uninstall,
       L"openEntry KORVAL_Update_Service",
       1060,
       {L"open", L"openEntry KORVAL_Update_Service", L"close"},
       L"deinstalliert"},
      {ProgramMode::Uninstall,
       L"delete",
       1072,
       {L"open", L"openEntry KORVAL_Update_Service", L"stop 30000", L"delete", L"close"},
       L"deinstalliert"},
      {ProgramMode::Uninstall,
       L"stop 30000",
       1053,
       {L"open", L"openEntry KORVAL_Update_Service", L"stop 30000", L"close"},
       L"deinstalliert"},
      {ProgramMode::Install, L"create", 0, {L"open", L"create", L"close"}, L"installiert"},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(std::string(row.failingCall, row.failingCall + wcslen(row.failingCall)));
    calls_ = RegistrationCalls();
    calls_.failingCall = row.failingCall;
    calls_.failingCode = row.code;
    messages_.shown.clear();
    for (bool silent : {false, true}) {
      calls_.calls.clear();
      messages_.shown.clear();
      EXPECT_EQ(Run(row.mode, silent), row.code == 0 ? 1 : static_cast<int>(row.code));
      EXPECT_EQ(Calls(), row.calls);
      const std::vector<ShownBox> expected = {
          {L"error", L"Service \"" + kDisplay + L"\" konnte nicht " + row.verb +
                         L" werden; Fehler: \"fails " + row.failingCall + L"\""}};
      EXPECT_EQ(messages_.shown, expected);
    }
  }
}

TEST_F(ServiceInstallerTest, RecoveryActionsThePlatformLacksDoNotFailTheRegistration) {
  calls_.failureActionsSupported = false;
  EXPECT_EQ(Run(ProgramMode::Install, false), 0);
  EXPECT_EQ(messages_.shown,
            (std::vector<ShownBox>{{L"information", L"Service erfolgreich installiert"}}));
}

TEST(ServiceRecoveryTest, RestartTwiceAfterAMinuteThenNothingAndResetAfterADay) {
  const FailureActions actions = ServiceFailureActions();
  EXPECT_EQ(actions.resetPeriodSeconds, 86400u);
  // A failed start ends in SERVICE_STOPPED with an exit code, not in a crash: without the flag
  // Windows would never restart it.
  EXPECT_TRUE(actions.onNonCrashFailures);
  const std::vector<RecoveryAction> expected = {{RecoveryAction::Restart, 60000},
                                                {RecoveryAction::Restart, 60000},
                                                {RecoveryAction::None, 0}};
  EXPECT_EQ(actions.actions, expected);
  EXPECT_EQ(static_cast<std::uint32_t>(RecoveryAction::Restart), 1u);  // SC_ACTION_RESTART
}

TEST(ServiceRecoveryTest, BothEventSourcesNameTheProgramFileAsMessageFile) {
  FakeRegistryKeys registry;
  const std::wstring base = L"\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
  RegisterEventSources(registry, L"C:\\Program Files\\K\\K.exe", L"K.exe");
  const std::vector<FakeRegistryKeys::EventSource> expected = {
      {base + L"KORVAL_Update_Service", L"C:\\Program Files\\K\\K.exe", 7},
      {base + L"K.exe", L"C:\\Program Files\\K\\K.exe", 7}};
  EXPECT_EQ(registry.eventSources, expected);
  RemoveEventSources(registry, L"K.exe");
  EXPECT_EQ(registry.deletedKeys,
            (std::vector<std::wstring>{base + L"KORVAL_Update_Service", base + L"K.exe"}));
  registry.failingKey = base + L"K.exe";
  EXPECT_THROW(RegisterEventSources(registry, L"C:\\K.exe", L"K.exe"), Exception);
}

TEST_F(ServiceInstallerTest, AManagerThatDoesNotOpenShowsTheApplicationErrorAndExitsWithItsCode) {
  calls_.failingCall = L"open";
  calls_.failingCode = 5;
  for (ProgramMode mode : {ProgramMode::Install, ProgramMode::Uninstall}) {
    messages_.shown.clear();
    EXPECT_EQ(Run(mode, true), 5);
    const std::wstring address(sizeof(std::uintptr_t) * 2 - 4, L'0');
    const std::vector<ShownBox> expected = {
        {L"application error", L"Exception EOSError in Modul KORVAL_Update_Service.exe bei " +
                                   address + L"1234.\r\nfails open.\r\n"}};
    EXPECT_EQ(messages_.shown, expected);
  }
  EXPECT_EQ(Calls(), (std::vector<std::wstring>{L"open", L"open"}));
}

}  // namespace
