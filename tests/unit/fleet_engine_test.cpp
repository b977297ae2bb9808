// The fleet rules inside the engine and the service's tick: passing failures, a server's
// Retry-After kept in the download folder, the update ring, and retries within the window.
#include <gtest/gtest.h>

#include <algorithm>

#include "Services/AdminCommands.h"
#include "Services/KORVAL_Update_Service.h"
#include "Services/UpdateCycle.h"
#include "core/CivilTime.h"
#include "core/PatchCodec.h"
#include "core/ReleaseFiles.h"
#include "core/ResumeRule.h"
#include "core/RolloutBrake.h"
#include "core/ServiceRecords.h"
#include "core/Sha256Digest.h"
#include "platform/ConsoleOutput.h"
#include "platform/OutcomeSink.h"
#include "platform/ReleaseSignatures.h"
#include "support/FakeCycleLock.h"
#include "support/FakeEnginePlatform.h"
#include "support/FakeScheduleTimer.h"

namespace {
const std::wstring kRecords = L"C:\\korval\\Download\\Aufzeichnungen.txt";

class FleetEngineTest : public ::testing::Test, public FakeEnginePlatform {
 protected:
  FleetEngineTest() {
    ArrangeTwoTargetsAndANewerDll();
    files.folders.insert(L"C:\\korval\\Download");
    clock.Set(MakeLocalTime(2025, 6, 5, 12, 0, 5));
  }
  std::unique_ptr<TDLLSynchronisierer> Engine() {
    return std::make_unique<TDLLSynchronisierer>(Platform());
  }
  std::int64_t Now() { return EpochSeconds(clock.UtcNow()); }
  // The next download is a 2.1.0.1 DLL.
  void NewDllAtThisTime() { versions.Set(kPartialDownload, 2, 1, 0, 1); }
  bool Logged(const TDLLSynchronisierer& engine, const std::wstring& text) {
    const auto& log = engine.ProtokollListe();
    return std::any_of(log.begin(), log.end(), [&](const std::wstring& line) {
      return line.find(text) != std::wstring::npos;
    });
  }
};

TEST_F(FleetEngineTest, WhichFailuresArePassing) {
  struct Row {
    const char* name;
    void (*arrange)(FleetEngineTest&);
    bool passing;
  } rows[] = {
      {"the version cannot be fetched", [](FleetEngineTest& t) { t.http.script.Fail(L"(12029)"); },
       true},
      {"the version server answers 503",
       [](FleetEngineTest& t) { t.http.script.Respond(503, "busy"); }, true},
      {"the download is cut off",
       [](FleetEngineTest& t) {
         t.http.script.Respond(200, "2.1.0.1");
         t.downloader.millisecondsPerChunk = 200000;
       },
       true},
      {"the DLL server answers 429",
       [](FleetEngineTest& t) {
         t.http.script.Respond(200, "2.1.0.1");
         t.downloader.refusal = std::make_pair(429, L"");
       },
       true},
      {"a DLL of another version is refused",
       [](FleetEngineTest& t) {
         t.http.script.Respond(200, "2.1.0.1");
         t.versions.Set(kPartialDownload, 2, 1, 0, 7);
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    http.script.answers.clear();
    downloader.millisecondsPerChunk = 1;
    downloader.refusal.reset();
    versions.Set(kPartialDownload, 2, 1, 0, 1);
    row.arrange(*this);
    auto engine = Engine();
    const UpdateCycleResult result = RunUpdateCycle(*engine);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.passing, row.passing);
  }
}

TEST_F(FleetEngineTest, ARetryAfterIsKeptForItsServerAndReadBackWithSuspicion) {
  http.script.Respond(503, "busy");
  http.script.answers.back().response.retryAfter = L"600";
  auto engine = Engine();
  RunUpdateCycle(*engine);
  EXPECT_EQ(engine->ServerPauseBis(), Now() + 600);
  EXPECT_NE(files.files[kRecords].find("PAUSE_SERVER=https://update.korval.de:443"),
            std::string::npos);
  // A DLL server's date form counts too; it replaces the earlier pause.
  http.script.Respond(200, "2.1.0.1");
  downloader.refusal = std::make_pair(503, L"Thu, 05 Jun 2025 13:00:00 GMT");
  RunUpdateCycle(*engine);
  EXPECT_EQ(engine->ServerPauseBis(), Now() + 3595);
  // Another configuration's server, or a pause further ahead than a day, holds nothing.
  profiles.Set(L"URLS", L"KorvalAppServerDLL", L"https://mirror.test/KorvalAppServer.dll");
  EXPECT_EQ(Engine()->ServerPauseBis(), 0);
  files.files[kRecords] =
      "KORVAL-AUFZEICHNUNGEN 1\nPAUSE_SERVER=https://update.korval.de:443\n"
      "PAUSE_BIS=" +
      std::to_string(Now() + 90000) + "\n";
  auto planted = Engine();
  EXPECT_EQ(planted->ServerPauseBis(), 0);
  EXPECT_TRUE(Logged(*planted, L"PAUSE_BIS liegt zu weit in der Zukunft"));
}

TEST_F(FleetEngineTest, TheRingHoldsANewVersionBackUntilItWasSeenLongEnough) {
  profiles.Set(L"ZEITPLAN", L"VERZOEGERUNG", L"24");
  http.script.Respond(200, "2.1.0.1");
  auto engine = Engine();
  UpdateCycleResult result = RunUpdateCycle(*engine);
  EXPECT_TRUE(result.updateDue);
  EXPECT_FALSE(result.failed);
  EXPECT_TRUE(Logged(*engine, L"Die Version 2.1.0.1 wird ab 6/6/2025 12:00:05 PM installiert."));
  EXPECT_TRUE(launcher.launches.empty()) << "nothing stopped, nothing downloaded";
  EXPECT_TRUE(downloader.requests.empty());
  // /CHECK shows the time and writes nothing.
  const std::string kept = files.files[kRecords];
  clock.Set(MakeLocalTime(2025, 6, 6, 0, 0, 5));
  http.script.Respond(200, "2.1.0.1");
  struct Console : ConsoleOutput {
    void WriteLine(const std::wstring& line) override { lines.push_back(line); }
    std::vector<std::wstring> lines;
  } console;
  RunCheckCommand(Platform(), console);
  EXPECT_TRUE(std::any_of(console.lines.begin(), console.lines.end(), [](const std::wstring& l) {
    return l.ends_with(L": Die Version 2.1.0.1 wird ab 6/6/2025 12:00:05 PM installiert.");
  }));
  EXPECT_EQ(files.files[kRecords], kept);
  // A day after it was first seen, it is installed.
  clock.Set(MakeLocalTime(2025, 6, 6, 12, 0, 5));
  NewDllAtThisTime();
  http.script.Respond(200, "2.1.0.1");
  engine = Engine();
  result = RunUpdateCycle(*engine);
  EXPECT_FALSE(result.failed);
  EXPECT_FALSE(launcher.launches.empty());
}

TEST_F(FleetEngineTest, TheServiceRetriesWithinTheWindowAndNeverBeforeTheServersPause) {
  profiles.Set(L"ZEITPLAN", L"WIEDERHOLUNGEN", L"2");
  FakeScheduleTimerFactory timers;
  FakeCycleLock lock;
  EnginePlatform platform = Platform();
  TKORVAL_Update_Service module(
      timers, clock, [&] { return std::make_unique<TDLLSynchronisierer>(platform); }, lock);
  clock.Set(MakeLocalTime(2025, 6, 5, 11, 59, 0));
  bool started = false;
  module.ServiceStart(started);
  http.script.Respond(503, "busy");
  http.script.answers.back().response.retryAfter = L"900";
  int checks = 0;
  for (int second = 30; second < 3600 && checks < 3; second += 30) {
    clock.Set(TimeFromEpochSeconds(EpochSeconds(MakeLocalTime(2025, 6, 5, 11, 59, 0)) + second));
    const std::size_t before = http.script.requestedUrls.size();
    if (http.script.answers.empty()) http.script.Respond(200, "2.1.0.1");
    NewDllAtThisTime();
    ASSERT_TRUE(timers.Fire());
    if (http.script.requestedUrls.size() == before) continue;
    ++checks;
    if (checks == 2) {
      EXPECT_GE(second - 60, 900) << "no request before the Retry-After has passed";
    }
  }
  EXPECT_EQ(checks, 2);
  const auto& log = module.DLLSynchronisierer()->ProtokollListe();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::wstring& l) {
                            return l.find(L"Neuer Versuch um ") != std::wstring::npos;
                          }),
            1);
  EXPECT_FALSE(launcher.launches.empty()) << "the retry installed the update";
}

// --- signed releases: the engine with a pinned release key --------------------------------

// Stands for ECDSA: a signature is the key and the FNV stand-in hash of the message.
class StandInSignatures : public ReleaseSignatures {
 public:
  static std::string Sign(const std::string& key, const std::string& message) {
    return key + "/" + ToHex(FakeFileSystem::FakeHash(message));
  }
  bool Verify(const std::string& key, const std::string& message,
              const std::string& signature) override {
    return signature == Sign(key, message);
  }
};

const std::string kReleaseKey = std::string(85, 'R') + "Q";
const std::string kOnlineKey = "online";
const std::wstring kReleaseUrl = L"https://cdn.test/2.1.0.1/KorvalAppServer.dll";

struct Published {
  std::string release;
  std::string timestamp;
};

class SignedReleaseEngineTest : public FleetEngineTest {
 public:
  SignedReleaseEngineTest() {
    profiles.Set(L"ABSICHERUNG", L"RELEASESCHLUESSEL",
                 std::wstring(kReleaseKey.begin(), kReleaseKey.end()) + L"==");
    profiles.Set(L"URLS", L"RELEASEDATEIEN", L"https://update.test/release");
    downloader.bodies[kReleaseUrl] = FakeDllBytes("new");
  }
  EnginePlatform SignedPlatform() {
    EnginePlatform p = Platform();
    p.releaseSignatures = &signatures;
    p.outcomes = &outcomes;
    p.machineIdentity = L"host-7";
    return p;
  }
  std::unique_ptr<TDLLSynchronisierer> SignedEngine() {
    return std::make_unique<TDLLSynchronisierer>(SignedPlatform());
  }
  ReleaseInfo Release() {
    ReleaseInfo r;
    r.sequence = 3;
    r.version = L"2.1.0.1";
    r.url = kReleaseUrl;
    r.size = FakeDllBytes("new").size();
    r.sha256 = FakeFileSystem::FakeHash(FakeDllBytes("new"));
    r.publishedUnix = Now() - 3600;
    r.timestampKeys = {kOnlineKey};
    r.expiresUnix = Now() + 86400 * 56;
    return r;
  }
  Published Publish(const ReleaseInfo& r, int cap = 100, std::int64_t expires = 0,
                    std::int64_t sequence = 10, const std::string& signer = kOnlineKey) {
    const std::string key = kReleaseKey + "==";
    const std::string payload = FormatReleasePayload(r);
    Published p;
    p.release = FormatSignedEnvelope({payload, {StandInSignatures::Sign(key, payload)}});
    TimestampInfo t;
    t.sequence = sequence;
    t.releaseSequence = r.sequence;
    const Sha256Bytes d = Sha256Digest(p.release);
    t.releaseSha256 = std::string(d.begin(), d.end());
    t.cap = cap;
    t.issuedUnix = Now();
    t.expiresUnix = expires ? expires : Now() + 86400;
    const std::string tp = FormatTimestampPayload(t);
    p.timestamp = FormatSignedEnvelope({tp, {StandInSignatures::Sign(signer, tp)}});
    return p;
  }
  bool Reported(Outcome outcome) {
    return std::any_of(outcomes.reports.begin(), outcomes.reports.end(),
                       [&](const auto& r) { return r.first == outcome; });
  }
  StandInSignatures signatures;
  struct Outcomes : OutcomeSink {
    void Report(Outcome o, const std::vector<std::wstring>& d) noexcept override {
      reports.push_back({o, d});
    }
    void CycleEnded(const CycleSummary& s) noexcept override { summaries.push_back(s); }
    std::vector<std::pair<Outcome, std::vector<std::wstring>>> reports;
    std::vector<CycleSummary> summaries;
  } outcomes;
};

TEST_F(SignedReleaseEngineTest, TheReleaseFilesDecideWhatIsInstalledAndWhen) {
  struct Row {
    const char* name;
    // Serves the files of one cycle; answers the line the run log must show.
    std::wstring (*arrange)(SignedReleaseEngineTest&);
    bool installed;
    bool withoutDownload = false;  // the DLL is never downloaded
  } rows[] = {
      {"installed from the release's address, the version text never asked",
       [](SignedReleaseEngineTest& t) {
         const Published p = t.Publish(t.Release());
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release).Respond(200, p.timestamp);
         return std::wstring(
             L"Releasedateien geprüft: Release 3, Version 2.1.0.1, Zeitstempel "
             L"10, Deckel 100 %.");
       },
       true},
      {"a timestamp by a foreign key",
       [](SignedReleaseEngineTest& t) {
         const Published p = t.Publish(t.Release(), 100, 0, 10, "foreign");
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release);
         return std::wstring(
             L"Fehler beim Prüfen der Releasedateien: Zeitstempel: Signatur ungültig.");
       },
       false},
      {"a DLL that is not the release's",
       [](SignedReleaseEngineTest& t) {
         ReleaseInfo r = t.Release();
         r.sha256 = FakeFileSystem::FakeHash("other");
         const Published p = t.Publish(r);
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release);
         return std::wstring(L"nicht die der Releasedatei (SHA-256 weicht ab");
       },
       false},
      {"the ramp has not reached this host",
       [](SignedReleaseEngineTest& t) {
         ReleaseInfo r = t.Release();
         r.ramp = {{0, 0}, {48, 100}};
         const Published p = t.Publish(r);
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release);
         return std::wstring(L"Rollout bei 0 %: dieser Rechner (Platz ");
       },
       false},
      {"halted while the DLL came in",
       [](SignedReleaseEngineTest& t) {
         const ReleaseInfo r = t.Release();
         const Published p = t.Publish(r);
         const Published halt = t.Publish(r, 0, 0, 11);
         t.http.script.Respond(200, p.timestamp)
             .Respond(200, p.release)
             .Respond(200, halt.timestamp);
         return std::wstring(L"Rollout angehalten (Deckel 0 %): Version 2.1.0.1");
       },
       false},
      {"the release's build failed an hour ago and waits: told by its hash, never downloaded",
       [](SignedReleaseEngineTest& t) {
         ServiceRecords failed{L"2.1.0.1", ToHex(t.Release().sha256)};
         failed.rejectedCause = RejectionCause::Recycle;
         failed.rejectedFailures = 1;
         failed.rejectedAtUnix = EpochSeconds(t.clock.UtcNow()) - 3600;
         t.files.files[kRecords] = FormatServiceRecords(failed);
         const Published p = t.Publish(t.Release());
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release);
         const std::string hex = ToHex(t.Release().sha256);
         return L"Der Download ist derselbe Build der Version 2.1.0.1 (SHA-256 " +
                std::wstring(hex.begin(), hex.end()) + L"); er wird nicht vor ";
       },
       false, true},
      {"a revoked newer copy goes back to the release",
       [](SignedReleaseEngineTest& t) {
         ReleaseInfo r = t.Release();
         r.revoked = {L"2.1.0.2"};
         t.versions.Set(L"C:\\inetpub\\app2\\KorvalAppServer.dll", 2, 1, 0, 2);
         const Published p = t.Publish(r);
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release).Respond(200, p.timestamp);
         return std::wstring(L"Version 2.1.0.2 ist zurückgezogen und wird durch 2.1.0.1 ersetzt.");
       },
       true},
      {"a release older than a copy it does not revoke",
       [](SignedReleaseEngineTest& t) {
         t.versions.Set(L"C:\\inetpub\\app2\\KorvalAppServer.dll", 2, 1, 0, 2);
         const Published p = t.Publish(t.Release());
         t.http.script.Respond(200, p.timestamp).Respond(200, p.release);
         return std::wstring(
             L"Fehler beim Prüfen der Releasedateien: Releaseversion 2.1.0.1 "
             L"älter als bekannt: installiert ist 2.1.0.2.");
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    http.script = HttpScript{};
    files.files.erase(kRecords);
    files.files.erase(L"C:\\korval\\Download\\KORVAL-Release.json");
    for (const wchar_t* target :
         {L"C:\\inetpub\\app1\\KorvalAppServer.dll", L"C:\\inetpub\\app2\\KorvalAppServer.dll"}) {
      files.files[target] = FakeDllBytes("old");
    }
    downloader.requests.clear();
    launcher.launches.clear();
    outcomes.reports.clear();
    const std::wstring line = row.arrange(*this);
    auto engine = SignedEngine();
    const UpdateCycleResult result = RunUpdateCycle(*engine);
    EXPECT_TRUE(Logged(*engine, line)) << testing::PrintToString(engine->ProtokollListe());
    EXPECT_EQ(Reported(Outcome::UpdateInstalled), row.installed);
    EXPECT_EQ(files.files[L"C:\\inetpub\\app2\\KorvalAppServer.dll"] == FakeDllBytes("new"),
              row.installed);
    for (const std::wstring& url : http.script.requestedUrls) {
      EXPECT_EQ(url.rfind(L"https://update.test/release/KORVAL-", 0), 0u) << url;
    }
    for (const std::wstring& request : downloader.requests) {
      EXPECT_EQ(request.rfind(kReleaseUrl + L" -> ", 0), 0u) << request;
    }
    EXPECT_TRUE(http.script.answers.empty()) << "a file served was not asked for";
    if (row.withoutDownload) EXPECT_TRUE(downloader.requests.empty());
    (void)result;
  }
}

// The release gives the DLL's size: a partial download of another size is of another build.
TEST_F(SignedReleaseEngineTest, APartialDownloadGoesOnOnlyWhenTheReleaseHasItsSize) {
  const std::string dll = FakeDllBytes("new");
  const std::uint64_t half = dll.size() / 2;
  const std::wstring etag = L"\"r3\"";
  for (const std::uint64_t recorded : {std::uint64_t{dll.size()}, std::uint64_t{dll.size() + 1}}) {
    SCOPED_TRACE(recorded);
    const bool goesOn = recorded == dll.size();
    files.files.erase(kRecords);
    files.files.erase(L"C:\\korval\\Download\\KORVAL-Release.json");
    files.files[kPartialDownload] = dll.substr(0, half);
    files.files[kPartialDownload + L".info"] =
        FormatPartialRecord({kReleaseUrl, etag, recorded, half});
    downloader.etags[kReleaseUrl] = etag;
    downloader.askedFrom.clear();
    const Published p = Publish(Release());
    http.script = HttpScript{};
    http.script.Respond(200, p.timestamp).Respond(200, p.release).Respond(200, p.timestamp);
    auto engine = SignedEngine();
    RunUpdateCycle(*engine);
    EXPECT_EQ(Logged(*engine, L"Setze den Download bei Byte " + std::to_wstring(half) + L" von " +
                                  std::to_wstring(dll.size()) + L" fort."),
              goesOn);
    EXPECT_EQ(downloader.askedFrom, (std::vector<std::uint64_t>{goesOn ? half : 0}));
    EXPECT_EQ(files.files[L"C:\\inetpub\\app1\\KorvalAppServer.dll"], dll);
    for (const wchar_t* target :
         {L"C:\\inetpub\\app1\\KorvalAppServer.dll", L"C:\\inetpub\\app2\\KorvalAppServer.dll"}) {
      files.files[target] = FakeDllBytes("old");
    }
  }
}

// A patch from the installed copy when it works, the whole DLL in the same cycle when not.
TEST_F(SignedReleaseEngineTest, APatchFromTheInstalledCopyOrTheWholeDllInTheSameCycle) {
  // Two builds that share most of their bytes, as builds do; a patch between them refers to the
  // old one, so a patch made from another base than the installed copy yields other bytes.
  std::string common;
  for (int i = 0; i < 4096; ++i) common += static_cast<char>((i * 7919 + i / 13) & 0xFF);
  const std::string old = FakeDllBytes("old") + common;
  const std::string fresh = FakeDllBytes("new") + common + "tail";
  const std::wstring patchUrl = L"https://cdn.test/p/old.zst";
  downloader.bodies[kReleaseUrl] = fresh;
  versions.Set(L"C:\\korval\\Download\\KorvalAppServer.dll.patched", 2, 1, 0, 1);
  struct Row {
    const char* name;
    std::string madeFrom, madeTo;  // what the patch was made from and to
    std::string base;              // the base the release names (stand-in hash of these bytes)
    int served;                    // 0: the patch as made; -1: cut short; 1: a bit flipped
    const wchar_t* line;
  };
  // A base the patch refers to everywhere, which the installed copy is not.
  const std::string other = fresh;
  std::string almost = fresh;
  almost.back() ^= 1;
  const Row rows[] = {
      {"patched", old, fresh, old, 0, L"Patch verwendet: "},
      {"no installed copy is the base", old, fresh, other, 0, nullptr},
      {"made from another base", other, fresh, old, 0, L"Patch nicht verwendbar: "},
      {"cut short", old, fresh, old, -1, L"Patch nicht verwendbar: Der Patch hat einen anderen"},
      {"a bit flipped", old, fresh, old, 1, L"Patch nicht verwendbar: Der Patch hat einen anderen"},
      {"another declared size", old, fresh + "x", old, 0,
       L"Patch nicht verwendbar: Der Patch erzeugt eine Datei anderer Größe"},
      {"another result", old, almost, old, 0,
       L"Patch nicht verwendbar: Das Ergebnis des Patches ist nicht die DLL der Releasedatei."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    http.script = HttpScript{};
    files.files.erase(kRecords);
    files.files.erase(L"C:\\korval\\Download\\KORVAL-Release.json");
    files.files[L"C:\\inetpub\\app1\\KorvalAppServer.dll"] = old;
    files.files[L"C:\\inetpub\\app2\\KorvalAppServer.dll"] = old;
    versions.Set(L"C:\\inetpub\\app2\\KorvalAppServer.dll", 2, 1, 0, 0);
    downloader.requests.clear();
    const std::string patch = MakePatch(row.madeFrom, row.madeTo);
    std::string served = patch;
    if (row.served < 0) served.pop_back();
    if (row.served > 0) served[served.size() / 2] ^= 4;
    downloader.bodies[patchUrl] = served;
    ReleaseInfo r = Release();
    r.size = fresh.size();
    r.sha256 = FakeFileSystem::FakeHash(fresh);
    r.patches = {{FakeFileSystem::FakeHash(row.base), patchUrl, patch.size(),
                  FakeFileSystem::FakeHash(patch)}};
    const Published p = Publish(r);
    http.script.Respond(200, p.timestamp).Respond(200, p.release).Respond(200, p.timestamp);
    auto engine = SignedEngine();
    RunUpdateCycle(*engine);
    EXPECT_EQ(files.files[L"C:\\inetpub\\app2\\KorvalAppServer.dll"], fresh);
    const bool patched = row.line && std::wstring(row.line).starts_with(L"Patch verwendet");
    if (row.line)
      EXPECT_TRUE(Logged(*engine, row.line)) << testing::PrintToString(engine->ProtokollListe());
    const bool whole =
        std::any_of(downloader.requests.begin(), downloader.requests.end(),
                    [](const std::wstring& q) { return q.starts_with(kReleaseUrl); });
    EXPECT_EQ(whole, !patched);
    EXPECT_EQ(engine->PatchErsparnis(),
              std::optional<std::uint64_t>(patched ? fresh.size() - patch.size() : 0));
  }
}

// Freeze, replay and the frozen-server warning over several cycles.
TEST_F(SignedReleaseEngineTest, AFrozenServerIsSeenAndAReplayRefused) {
  const ReleaseInfo r = Release();
  const Published first = Publish(r, 0);  // halted: nothing installed, the files kept
  http.script.Respond(200, first.timestamp).Respond(200, first.release);
  RunUpdateCycle(*SignedEngine());
  ASSERT_NE(files.files[kRecords].find("ZEITSTEMPEL_FOLGE=10"), std::string::npos);

  // The same release under a newer timestamp: the kept release file is used, not fetched.
  const Published second = Publish(r, 0, Now() + 7200, 12);
  http.script.Respond(200, second.timestamp);
  RunUpdateCycle(*SignedEngine());
  EXPECT_TRUE(http.script.answers.empty());
  EXPECT_EQ(http.script.requestedUrls.back(),
            L"https://update.test/release/KORVAL-Zeitstempel.json");

  // A replay of the older timestamp is refused, reported, and changes nothing kept.
  const std::string kept = files.files[kRecords];
  http.script.Respond(200, first.timestamp);
  auto replayed = SignedEngine();
  RunUpdateCycle(*replayed);
  EXPECT_TRUE(Logged(*replayed, L"Zeitstempel älter als bekannt: Folgenummer 10, bekannt 12."));
  EXPECT_TRUE(Reported(Outcome::ReleaseRefused));
  EXPECT_FALSE(Reported(Outcome::ReleaseFrozen)) << "the last timestamp is still valid";
  EXPECT_EQ(files.files[kRecords], kept);

  // Three hours on, the server still serves the expired timestamp: a freeze, warned once a day.
  clock.Set(MakeLocalTime(2025, 6, 5, 15, 0, 5));
  for (int cycle = 0; cycle < 2; ++cycle) {
    outcomes.reports.clear();
    http.script.Respond(200, second.timestamp);
    auto frozen = SignedEngine();
    RunUpdateCycle(*frozen);
    EXPECT_TRUE(Logged(*frozen, L"Zeitstempel veraltet: abgelaufen vor 60 Minuten."));
    EXPECT_EQ(Reported(Outcome::ReleaseFrozen), cycle == 0);
    ASSERT_FALSE(outcomes.summaries.empty());
    EXPECT_TRUE(outcomes.summaries.back().release.frozen);
    EXPECT_EQ(outcomes.summaries.back().release.missingSeconds, 3600);
    EXPECT_EQ(outcomes.summaries.back().release.behind, 3);
  }
}

// Between the windows the service asks for the timestamp at its offset every hour, only for a
// change; a halt drops the DLL that waits in the download folder, and logs nothing else.
TEST_F(SignedReleaseEngineTest, TheHourlyTimestampAsksForAChangeAndAHaltDropsAWaitingDll) {
  FakeScheduleTimerFactory timers;
  FakeCycleLock lock;
  EnginePlatform platform = SignedPlatform();
  TKORVAL_Update_Service module(
      timers, clock, [&] { return std::make_unique<TDLLSynchronisierer>(platform); }, lock);
  const std::int64_t start = EpochSeconds(MakeLocalTime(2025, 6, 5, 13, 0, 0));
  clock.Set(TimeFromEpochSeconds(start));
  bool started = false;
  module.ServiceStart(started);
  const ReleaseInfo r = Release();
  const Published open = Publish(r, 100, Now() + 86400, 10);
  http.script.Respond(200, open.timestamp).Respond(200, open.release);
  http.script.answers.front().response.etag = L"\"ts-10\"";
  files.files[L"C:\\korval\\Download\\KorvalAppServer.dll"] = FakeDllBytes("new");
  const Published halt = Publish(r, 0, Now() + 86400, 11);
  std::vector<std::int64_t> fetchedAt;
  for (std::int64_t second = 30; second <= 3 * 3600; second += 30) {
    clock.Set(TimeFromEpochSeconds(start + second));
    if (http.script.answers.empty()) {
      // The second fetch finds nothing changed; the third the halt.
      if (fetchedAt.size() == 1) http.script.Respond(304, "");
      if (fetchedAt.size() == 2) http.script.Respond(200, halt.timestamp);
    }
    const std::size_t before = http.script.requestedUrls.size();
    ASSERT_TRUE(timers.Fire());
    if (http.script.requestedUrls.size() > before) fetchedAt.push_back(second);
  }
  ASSERT_EQ(fetchedAt.size(), 3u) << "once an hour";
  EXPECT_EQ(fetchedAt[1] - fetchedAt[0], 3600);
  EXPECT_EQ(fetchedAt[2] - fetchedAt[1], 3600);
  EXPECT_EQ(http.script.conditions.back(), L"\"ts-10\"|") << "asked only for a change";
  EXPECT_FALSE(files.files.count(L"C:\\korval\\Download\\KorvalAppServer.dll"));
  const auto& log = module.DLLSynchronisierer()->ProtokollListe();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::wstring& l) {
                            return l.find(L"Releasedateien geprüft") != std::wstring::npos;
                          }),
            2)
      << "the first release and the new cap, not the 304";
  EXPECT_TRUE(launcher.launches.empty());
  EXPECT_TRUE(downloader.requests.empty());
}

// A check that changed nothing costs nothing: the version text is asked for only when changed,
// and a 304 lets the kept text stand; a text of another address or without a validator is not
// kept, and a 304 nobody asked for is an answer like any other.
TEST_F(FleetEngineTest, TheVersionTextIsAskedForOnlyWhenChanged) {
  http.script.Respond(200, "2.1.0.1");
  http.script.answers.back().response.etag = L"\"v7\"";
  http.script.answers.back().response.lastModified = L"Thu, 05 Jun 2025 10:00:00 GMT";
  auto engine = Engine();
  engine->NurPruefen();
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_FALSE(files.files.count(kRecords)) << "/CHECK keeps nothing";
  http.script.Respond(200, "2.1.0.1");
  http.script.answers.back().response.etag = L"\"v7\"";
  http.script.answers.back().response.lastModified = L"Thu, 05 Jun 2025 10:00:00 GMT";
  engine = Engine();
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(http.script.conditions.size(), 0u);
  http.script.Respond(304, "");
  engine = Engine();
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(engine->OnlineVersion(), L"2.1.0.1");
  EXPECT_EQ(http.script.conditions,
            std::vector<std::wstring>{L"\"v7\"|Thu, 05 Jun 2025 10:00:00 GMT"});
  // Another address: asked plainly, and its 304 (no text) fails the check as any bodiless answer.
  profiles.Set(L"URLS", L"VersionsNr", L"https://other.test/v.txt");
  http.script.Respond(304, "");
  engine = Engine();
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(http.script.conditions.size(), 1u);
  EXPECT_TRUE(Logged(*engine, L"Fehler beim prüfen auf neue Version."));
  // A weak ETag is no validator: nothing is kept.
  http.script.Respond(200, "2.1.0.2");
  http.script.answers.back().response.etag = L"W/\"v8\"";
  engine = Engine();
  engine->PruefeAufNeueVersion();
  EXPECT_EQ(files.files[kRecords].find("VERSIONSTEXT"), std::string::npos);
}

// Without a key nothing changes: the version text decides, as before.
TEST_F(FleetEngineTest, WithoutAReleaseKeyTheVersionTextDecides) {
  http.script.Respond(200, "2.1.0.1");
  auto engine = Engine();
  RunUpdateCycle(*engine);
  EXPECT_EQ(http.script.requestedUrls,
            std::vector<std::wstring>{L"https://update.korval.de/KORVALAppDLLVersion.txt"});
  EXPECT_FALSE(Logged(*engine, L"Releasedateien"));
}

}  // namespace
