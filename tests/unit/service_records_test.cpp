// The records the service keeps between cycles: what is written reads back, and what another
// hand could have written is left out with its reason.
#include <gtest/gtest.h>

#include "Models/ServiceRecordStore.h"
#include "core/ServiceFolderSecurity.h"
#include "core/ServiceRecords.h"
#include "support/FakeFileSystem.h"

namespace {
const std::string kHash(64, 'a');
const std::wstring kFolder = L"C:\\korval\\Download\\";
const std::wstring kFile = kFolder + L"Aufzeichnungen.txt";

TEST(ServiceRecords, WhatIsWrittenReadsBackAndWhatDoesNotFitIsIgnored) {
  const ServiceRecords rejected{L"2.1.0.1", kHash};
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords(rejected)).records, rejected);
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords({})).records, ServiceRecords{});
  const ServiceRecords fleet{L"",       "", L"2.1.0.2", 1750000000, L"https://update.test:443",
                             1750003600};
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords(fleet)).records, fleet);
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
}  // namespace
