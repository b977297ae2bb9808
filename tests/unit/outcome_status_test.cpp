#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "Services/OutcomeReporter.h"
#include "core/Exception.h"
#include "support/FakeClock.h"
#include "support/FakeVersionReader.h"

namespace {

using Strings = std::vector<std::wstring>;

// The event table is a contract: each outcome keeps its ID, type and string order.
TEST(OutcomeEventsTest, EachOutcomeHasItsIdTypeAndStrings) {
  struct Row {
    Outcome outcome;
    Strings details;
    OutcomeEvent expected;
  };
  using K = EventKind;
  const Row rows[] = {
      {Outcome::UpdateInstalled,
       {L"2.1.0.1", L"C:\\a", L"2.1.0.0", L"2.1.0.1", L"C:\\b", L"2.0.0.9", L"2.1.0.1", L"850"},
       {1000,
        K::Information,
        {L"2.1.0.1", L"C:\\a: 2.1.0.0 -> 2.1.0.1\r\nC:\\b: 2.0.0.9 -> 2.1.0.1", L"850"}}},
      {Outcome::RolledBackAfterStatusPage,
       {L"2.1.0.1", L"nicht erreichbar (Status 500)."},
       {1001, K::Error, {L"2.1.0.1", L"nicht erreichbar (Status 500)."}}},
      {Outcome::ExchangeFailed,
       {L"C:\\a", L"Code: 32."},
       {1002, K::Error, {L"C:\\a", L"Code: 32."}}},
      {Outcome::SiteLeftStopped, {L"Shop"}, {1003, K::Error, {L"Shop", L""}}},
      {Outcome::DownloadRefused, {L"nicht signiert"}, {1004, K::Warning, {L"nicht signiert"}}},
      {Outcome::VersionCheckFailed, {L"(12029)"}, {1005, K::Warning, {L"(12029)"}}},
      {Outcome::UnfinishedExchangeFinished, {L"alt"}, {1006, K::Warning, {L"alt"}}},
      {Outcome::JournalRefused,
       {L"CRC", L"x.abgelehnt"},
       {1007, K::Error, {L"CRC", L"x.abgelehnt"}}},
      {Outcome::FolderNotTrusted, {L"D:\\K\\"}, {1009, K::Error, {L"D:\\K\\", L""}}},
      {Outcome::SiteFolderNotTrusted, {L"C:\\s\\", L"x"}, {1010, K::Warning, {L"C:\\s\\", L"x"}}},
      {Outcome::OldCodeStillRuns, {L"2.1.0.1", L"w3wp"}, {1011, K::Error, {L"2.1.0.1", L"w3wp"}}},
      {Outcome::RejectedBuildRetried,
       {L"2.1.0.1", L"2"},
       {1015, K::Information, {L"2.1.0.1", L"2", L""}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected.id);
    EXPECT_EQ(MakeOutcomeEvent(row.outcome, row.details), row.expected);
  }
  EXPECT_EQ(RunLogFolderMissingEvent(L"D:\\log\\"),
            (OutcomeEvent{1008, K::Warning, {L"D:\\log\\"}}));
}

TEST(OutcomeEventsTest, LastingStatesAreRepeatedAtMostHourlyUntilTheSiteRunsASetAgain) {
  const std::uint64_t hour = 3600000;
  for (const Outcome lasting : {Outcome::SiteLeftStopped, Outcome::OldCodeStillRuns}) {
    SCOPED_TRACE(static_cast<int>(lasting));
    RepeatThrottle throttle;
    EXPECT_TRUE(throttle.Admit(lasting, 0));
    EXPECT_FALSE(throttle.Admit(lasting, 30000));
    EXPECT_TRUE(throttle.Admit(Outcome::DownloadRefused, 40000));  // other outcomes pass
    EXPECT_FALSE(throttle.Admit(lasting, hour - 1));
    EXPECT_TRUE(throttle.Admit(lasting, hour));
    EXPECT_TRUE(throttle.Admit(Outcome::UnfinishedExchangeFinished, hour + 1));
    EXPECT_TRUE(throttle.Admit(lasting, hour + 2));
  }
  // Each state has its own hour.
  RepeatThrottle throttle;
  EXPECT_TRUE(throttle.Admit(Outcome::SiteLeftStopped, 0));
  EXPECT_TRUE(throttle.Admit(Outcome::OldCodeStillRuns, 1));
  EXPECT_FALSE(throttle.Admit(Outcome::OldCodeStillRuns, 2));
  EXPECT_TRUE(throttle.Admit(Outcome::ExchangeFailed, 3));
  EXPECT_TRUE(throttle.Admit(Outcome::OldCodeStillRuns, 4));
}

StatusBericht Sample() {
  StatusBericht b;
  b.programmVersion = L"1.0.0.0";
  b.letztePruefung = {L"2025-06-05T12:00:05", 1749117605};
  b.ergebnis = kErgebnisAktualisiert;
  b.onlineVersion = L"2.1.0.1";
  b.ziele = {{L"C:\\site \"a\"\\KorvalAppServer.dll", L"2.1.0.1"}, {L"C:\\b\\Kä.dll", L""}};
  b.letzteAktualisierung = {L"2025-06-05T12:00:04", 1749117604};
  b.fehlgeschlageneZyklenInFolge = 0;
  return b;
}

TEST(StatusReportTest, TheFileReadsBackAndOnlyOurOwnRecordParses) {
  const StatusBericht b = Sample();
  const std::string json = FormatStatusJson(b);
  EXPECT_EQ(json.back(), '\n');
  EXPECT_NE(json.find("\"aktualisierungFaellig\": false"), std::string::npos);
  EXPECT_EQ(ParseStatusJson(json), b);
  for (const char* bad : {"", "[]", "{}", "{\"programmVersion\": 1}", "{\"a\": \"\\u12\"}",
                          "{\"a\": [[[[[[1]]]]]]}"}) {
    EXPECT_EQ(ParseStatusJson(bad), std::nullopt) << bad;
  }
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = json;
    text.replace(text.find(from), from.size(), to);
    return ParseStatusJson(text);
  };
  EXPECT_EQ(replaced("\"aktualisiert\"", "\"gehackt\""), std::nullopt);
  EXPECT_EQ(replaced("\"2.1.0.1\",\n  \"aktu", "\"; rm -rf\",\n  \"aktu"), std::nullopt);
  EXPECT_EQ(replaced("InFolge\": 0", "InFolge\": -3"), std::nullopt);
  // With a release key: the freshness and the last download's patch read back too.
  StatusBericht signed_ = b;
  signed_.release = {true, true, 7200, 2};
  signed_.downloadBekannt = true;
  signed_.patchVerwendet = true;
  signed_.patchGespart = 9'000'000;
  const std::string withRelease = FormatStatusJson(signed_);
  EXPECT_EQ(ParseStatusJson(withRelease), signed_);
  EXPECT_EQ(json.find("release"), std::string::npos) << "nothing new without a key";
  std::string bent = withRelease;
  const std::string saved = "\"gesparteBytes\": 9000000";
  bent.replace(bent.find(saved), saved.size(), "\"gesparteBytes\": -1");
  EXPECT_EQ(ParseStatusJson(bent), std::nullopt);
  const std::string metrics = FormatStatusMetrics(signed_);
  for (const char* line :
       {"korval_release_frozen 1\n", "korval_release_timestamp_missing_seconds 7200\n",
        "korval_release_behind 2\n", "korval_update_patch_saved_bytes 9000000\n"}) {
    EXPECT_NE(metrics.find(line), std::string::npos) << line;
  }
  const std::vector<std::wstring> lines = StatusLines(signed_);
  EXPECT_NE(std::find(lines.begin(), lines.end(), L"Releases im Rückstand: 2"), lines.end());
}

TEST(StatusReportTest, ExitCodesAndMetrics) {
  StatusBericht b = Sample();
  EXPECT_EQ(StatusExitCode(b), 0);
  b.ziele[1].version = L"2.1.0.0";
  EXPECT_EQ(StatusExitCode(b), 2);
  b.ergebnis = kErgebnisFehlgeschlagen;
  b.fehlgeschlageneZyklenInFolge = 3;
  EXPECT_EQ(StatusExitCode(b), 1);
  const std::string metrics = FormatStatusMetrics(b);
  EXPECT_EQ(metrics.back(), '\n');
  for (const char* line : {"\nkorval_update_last_check_timestamp_seconds 1749117605\n",
                           "\nkorval_update_last_check_success 0\n", "\nkorval_update_due 1\n",
                           "\nkorval_update_failed_cycles 3\n",
                           "\nkorval_update_last_success_timestamp_seconds 1749117604\n",
                           "\nkorval_update_target_info{path=\"C:\\\\site "
                           "\\\"a\\\"\\\\KorvalAppServer.dll\",version=\"2.1.0.1\"} 1\n"}) {
    EXPECT_NE(metrics.find(line), std::string::npos) << line;
  }
}

class MemoryStatusFiles : public StatusFileStore {
 public:
  std::optional<std::string> ReadPlain(const std::wstring& path, std::size_t) override {
    if (refused.count(path)) throw Exception(L"Verweis");
    auto found = files.find(path);
    return found == files.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
  void WriteAtomically(const std::wstring& path, const std::string& bytes) override {
    if (refused.count(path)) throw Exception(L"Verweis");
    files[path] = bytes;
  }
  bool FolderExists(const std::wstring& folder) override { return folder != L"D:\\fehlt\\"; }
  std::map<std::wstring, std::string> files;
  std::set<std::wstring> refused;
};

class RecordingOutcomeLog : public OutcomeEventLog {
 public:
  void Write(const OutcomeEvent& event) noexcept override { events.push_back(event); }
  std::vector<OutcomeEvent> events;
};

TEST(OutcomeReporterTest, StartCyclesAndARestartCarryTheStatus) {
  RecordingOutcomeLog log;
  MemoryStatusFiles files;
  FakeClock clock;
  FakeVersionReader versions;
  const std::wstring dll = L"C:\\site\\KorvalAppServer.dll";
  versions.Set(dll, 2, 1, 0, 0);
  auto reporter =
      std::make_unique<OutcomeReporter>(log, files, clock, versions, [] { return 100; });
  CycleSummary summary;
  summary.runLogPath = L"C:\\log\\Protokoll.txt";
  summary.metricsPath = L"C:\\metrics\\korval.prom";
  summary.targets = {dll};
  summary.atStart = true;
  reporter->CycleEnded(summary);
  std::optional<StatusBericht> b = ParseStatusJson(files.files[L"C:\\log\\Status.json"]);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->ergebnis, kErgebnisKeine);
  EXPECT_EQ(b->ziele, (std::vector<StatusZiel>{{dll, L"2.1.0.0"}}));

  summary.atStart = false;
  summary.onlineVersion = L"2.1.0.1";
  reporter->Report(Outcome::UpdateInstalled, {L"2.1.0.1", dll, L"2.1.0.0", L"2.1.0.1", L"7"});
  versions.Set(dll, 2, 1, 0, 1);
  reporter->CycleEnded(summary);
  summary.failed = true;
  reporter->CycleEnded(summary);
  reporter->CycleEnded(summary);
  ASSERT_EQ(log.events.size(), 1u);
  EXPECT_EQ(log.events[0].id, kEventUpdateInstalled);

  // A new process (a restart) carries the last update and the failures from the file.
  reporter = std::make_unique<OutcomeReporter>(log, files, clock, versions, [] { return 200; });
  summary.failed = true;
  reporter->CycleEnded(summary);
  b = ParseStatusJson(files.files[L"C:\\log\\Status.json"]);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->fehlgeschlageneZyklenInFolge, 3);
  EXPECT_EQ(b->letzteAktualisierung, (StatusZeit{L"2025-06-05T12:00:05", 100}));
  EXPECT_EQ(b->letztePruefung.unix, 200);
  EXPECT_NE(files.files[L"C:\\metrics\\korval.prom"].find("korval_update_failed_cycles 3\n"),
            std::string::npos);

  // A status file that is a link is neither read nor written; a missing log folder is reported.
  files.refused.insert(L"D:\\fehlt\\Status.json");
  summary.runLogPath = L"D:\\fehlt\\Protokoll.txt";
  summary.atStart = true;
  reporter->CycleEnded(summary);
  EXPECT_EQ(log.events.back(), RunLogFolderMissingEvent(L"D:\\fehlt\\"));
  EXPECT_EQ(files.files.count(L"D:\\fehlt\\Status.json"), 0u);
}

}  // namespace
