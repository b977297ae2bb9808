// The records the service keeps between cycles: what is written reads back, and what another
// hand could have written is left out with its reason.
#include <gtest/gtest.h>

#include "Models/ServiceRecordStore.h"
#include "core/FolderTrust.h"
#include "core/ServiceFolderSecurity.h"
#include "core/ServiceRecords.h"
#include "support/FakeFileSystem.h"

namespace {
const std::string kHash(64, 'a');
const std::wstring kFolder = L"C:\\korval\\Download\\";
const std::wstring kFile = kFolder + L"Aufzeichnungen.txt";

TEST(ServiceRecords, WhatIsWrittenReadsBackAndWhatDoesNotFitIsIgnored) {
  const ServiceRecords rejected{.rejectedVersion = L"2.1.0.1",
                                .rejectedSha256 = kHash,
                                .rejectedCause = RejectionCause::Recycle,
                                .rejectedFailures = 3,
                                .rejectedAtUnix = 1750000000};
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords(rejected)).records, rejected);
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords({})).records, ServiceRecords{});
  const ServiceRecords fleet{L"",       "", L"2.1.0.2", 1750000000, L"https://update.test:443",
                             1750003600};
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords(fleet)).records, fleet);
  ServiceRecords release;
  release.timestampSequence = 42;
  release.releaseSequence = 7;
  release.releaseSha256 = kHash;
  release.rolloutCap = 0;
  release.timestampValidUntilUnix = 1750086400;
  release.timestampEtag = L"\"ts-42\"";
  release.timestampLastModified = L"Thu, 05 Jun 2025 12:00:00 GMT";
  release.installedReleaseSequence = 6;
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords(release)).records, release);
  const std::string header = "KORVAL-AUFZEICHNUNGEN 1\n";
  struct Case {
    std::string file;
    std::size_t ignored;
  } cases[] = {
      {"", 1},
      {"ZURUECKGENOMMENE_VERSION=2.1.0.1\n", 1},           // no header
      {header + "ZURUECKGENOMMENE_VERSION=2.1.0.1\n", 1},  // half a record
      {header + "ZURUECKGENOMMENE_VERSION=2.1.0.1\nZURUECKGENOMMENE_SHA256=xyz\n", 2},
      {header + "ZURUECKGENOMMENE_VERSION=2.1\x01\nZURUECKGENOMMENE_SHA256=" + kHash + "\n", 2},
      {header + "ZURUECKGENOMMENE_VERSION=\xff\nZURUECKGENOMMENE_SHA256=" + kHash + "\n", 2},
      {header + "UNBEKANNT=1\nohne Gleichheitszeichen\n", 2},
      {header + "GESEHENE_VERSION=2.1.0.2\n", 1},  // half a record
      {header + "GESEHENE_VERSION=2.1.0.2\nGESEHEN_SEIT=-5\n", 2},
      {header + "PAUSE_SERVER=https://update.test:443\nPAUSE_BIS=1e9\n", 2},
      {header + "PAUSE_BIS=1750003600\n", 1},
      {header + "ZURUECKGENOMMEN_GRUND=RECYCLE\nZURUECKGENOMMEN_AM=5\n", 1},  // no version
      {header + "ZURUECKGENOMMEN_FEHLVERSUCHE=0\nZURUECKGENOMMEN_GRUND=NEU\n", 2},
      {header + "ROLLOUT_DECKEL=101\nZEITSTEMPEL_FOLGE=-1\nRELEASE_SHA256=abc\n", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const ParsedServiceRecords parsed = ParseServiceRecords(c.file);
    EXPECT_EQ(parsed.records, ServiceRecords{});
    EXPECT_EQ(parsed.ignored.size(), c.ignored);
  }
}

TEST(ServiceRecords, OnlyAFileOfTheServiceOrTheAdministratorsIsRead) {
  EXPECT_TRUE(IsTrustedOwner(kSystemSid, L"S-1-5-21-9"));
  EXPECT_TRUE(IsTrustedOwner(kAdministratorsSid, L"S-1-5-21-9"));
  EXPECT_TRUE(IsTrustedOwner(L"S-1-5-21-9", L"S-1-5-21-9"));
  EXPECT_FALSE(IsTrustedOwner(L"S-1-5-21-8", L"S-1-5-21-9"));
  EXPECT_FALSE(IsTrustedOwner(L"", L""));
  EXPECT_EQ(std::wstring(ServiceFolderSddl()), L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

  std::vector<std::wstring> timeline;
  FakeFileSystem files(timeline);
  ServiceRecordStore store(files, kFolder);
  store.Save({L"2.1.0.1", kHash});
  EXPECT_FALSE(files.files.count(kFile + L".neu"));
  std::vector<std::wstring> ignored;
  EXPECT_EQ(store.Load(ignored).rejectedVersion, L"2.1.0.1");
  EXPECT_TRUE(ignored.empty());
  for (int row = 0; row < 2; ++row) {
    if (row == 0) files.owners[kFile] = L"S-1-5-21-1-2-3-1001";
    if (row == 1) files.linked.insert(kFile);
    ignored.clear();
    EXPECT_EQ(store.Load(ignored), ServiceRecords{});
    EXPECT_EQ(ignored.size(), 1u);
  }
  store.Save({});
  EXPECT_FALSE(files.files.count(kFile));
}

// A folder on the way to what the service writes: usable, or the reason it is not.
TEST(ServiceRecords, AFolderIsTheServicesOnlyWhenNoOtherAccountCanTakeIt) {
  const std::wstring self = L"S-1-5-21-9";
  const std::wstring user = L"S-1-5-32-545";
  struct Row {
    const char* name;
    FolderFacts facts;
    const wchar_t* reason;  // nullptr: usable
  };
  const std::vector<Row> rows = {
      {"system, admins, users may read", {L"C:\\K", false, kSystemSid, true,
        {{true, false, kSystemSid, kGenericAll}, {true, false, kAdministratorsSid, 0x1F01FF},
         {true, false, user, 0x1200A9}}}, nullptr},
      {"the service's own account", {L"C:\\K", false, self, true, {{true, false, self, 0x1F01FF}}},
       nullptr},
      {"TrustedInstaller owns", {L"C:\\Windows",
        false, L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true, {}}, nullptr},
      {"users may create folders here", {L"C:\\", false, kAdministratorsSid, true,
        {{true, false, L"S-1-5-11", 0x4}}}, nullptr},
      {"modify for users only below", {L"D:\\", false, kAdministratorsSid, true,
        {{true, true, L"S-1-5-11", 0x1301BF}}}, nullptr},
      {"creator owner", {L"C:\\K", false, kAdministratorsSid, true,
        {{true, false, L"S-1-3-0", kGenericAll}}}, nullptr},
      {"a denied delete", {L"C:\\K", false, kAdministratorsSid, true,
        {{false, false, user, kDelete}}}, nullptr},
      {"a junction", {L"C:\\K", true, kSystemSid, true, {}},
       L"C:\\K ist ein Verweis (Abzweigung, symbolische Verknüpfung, Bereitstellungspunkt)."},
      {"owner unreadable", {L"C:\\K", false, L"", true, {}},
       L"Der Besitzer von C:\\K ist nicht lesbar."},
      {"a user owns", {L"D:\\KORVAL", false, L"S-1-5-21-1-2-3-1001", true, {}},
       L"D:\\KORVAL gehört S-1-5-21-1-2-3-1001."},
      {"no access list", {L"C:\\K", false, kSystemSid, false, {}},
       L"C:\\K hat keine Zugriffsliste: jedes Konto darf alles."},
      {"modify for authenticated users", {L"D:\\KORVAL", false, kAdministratorsSid, true,
        {{true, false, kSystemSid, kGenericAll}, {true, false, L"S-1-5-11", 0x1301BF}}},
       L"D:\\KORVAL erlaubt S-1-5-11: Löschen."},
      {"delete child", {L"C:\\K", false, kSystemSid, true, {{true, false, user, kDeleteChild}}},
       L"C:\\K erlaubt S-1-5-32-545: Löschen von Unterordnern und Dateien."},
      {"write dac and owner", {L"C:\\K", false, kSystemSid, true,
        {{true, false, user, kWriteDac | kWriteOwner}}},
       L"C:\\K erlaubt S-1-5-32-545: Berechtigungen ändern, Besitz übernehmen."},
      {"generic all", {L"C:\\K", false, kSystemSid, true, {{true, false, L"S-1-1-0", kGenericAll}}},
       L"C:\\K erlaubt S-1-1-0: Vollzugriff."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<std::wstring> reason = WhyFolderNotTrusted(row.facts, self);
    if (row.reason == nullptr) {
      EXPECT_EQ(reason, std::nullopt);
    } else {
      EXPECT_EQ(reason, std::optional<std::wstring>(row.reason));
    }
  }

  using Folders = std::vector<std::wstring>;
  EXPECT_EQ(FolderAndAncestors(L"C:\\ProgramData\\KORVAL\\Download\\"),
            (Folders{L"C:\\ProgramData\\KORVAL\\Download", L"C:\\ProgramData\\KORVAL",
                     L"C:\\ProgramData", L"C:\\"}));
  EXPECT_EQ(FolderAndAncestors(L"D:/Logs"), (Folders{L"D:\\Logs", L"D:\\"}));
  EXPECT_EQ(FolderAndAncestors(L"C:\\"), (Folders{L"C:\\"}));
  EXPECT_EQ(FolderAndAncestors(L"C:"), (Folders{L"C:\\"}));
  EXPECT_EQ(FolderAndAncestors(L"\\\\srv\\share\\A\\B"),
            (Folders{L"\\\\srv\\share\\A\\B", L"\\\\srv\\share\\A", L"\\\\srv\\share\\"}));
  EXPECT_EQ(FolderAndAncestors(L"\\\\srv\\share"), (Folders{L"\\\\srv\\share\\"}));
  EXPECT_EQ(FolderAndAncestors(L"Protokolle"), Folders{});
}
}  // namespace
