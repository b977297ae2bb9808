// The version check of the engine: run-log lines and results for every situation, with a scripted
// HTTP transport and version reader.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "platform/Clock.h"
#include "platform/LogFileStore.h"
#include "platform/TextCodec.h"
#include "support/FakeHttp.h"
#include "support/FakeProfileReader.h"
#include "support/FakeVersionReader.h"

namespace {

const std::wstring kPruefe = L"Prüfe auf neue Version.";
const std::wstring kLese = L"Lese DLL-Version aus.";
const std::wstring kNeu = L"Neue Version gefunden.";
const std::wstring kAktuell = L"Version aktuell.";
const std::wstring kFehlerPruefen = L"Fehler beim prüfen auf neue Version.";
const std::wstring kFehlerAuslesen = L"Fehler beim auslesen der DLL-Version.";
const std::wstring kFehlerAbfragen = L"Fehler beim abfragen der aktuellen Versionsnummer: ";
const std::wstring kVersionUrl = L"https://update.test/KORVALAppDLLVersion.txt";

// A clock that always reads noon of one day.
class NoonClock : public Clock {
 public:
  LocalTime Now() override { return LocalTime{2025, 6, 5, 4, 12, 0, 5, 0}; }
  LocalTime UtcNow() override { return Now(); }
  std::uint64_t TickMilliseconds() override { return 0; }
  void Wait(unsigned) override {}
};

// ANSI is Latin-1 here; decoding knows Latin-1 only.
class Latin1Codec : public TextCodec {
 public:
  unsigned AnsiCodePage() override { return 1252; }
  std::string ToAnsi(const std::wstring& text) override {
    std::string bytes;
    for (wchar_t c : text) bytes += c < 256 ? static_cast<char>(c) : '?';
    return bytes;
  }
  bool IsValidCodePage(unsigned codePage) override { return codePage == 28591; }
  std::wstring Decode(unsigned, const std::string& bytes) override {
    std::wstring text;
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
  }
};

// Accepts every write and keeps nothing.
class DiscardingLogStore : public LogFileStore {
 public:
  FileIdentity Rewrite(const std::wstring&, const std::string& bytes) override {
    return FileIdentity{1, 1, bytes.size(), ++writes};
  }
  std::optional<FileIdentity> AppendIfUnchanged(const std::wstring&, const FileIdentity& expected,
                                                const std::string& bytes) override {
    FileIdentity next = expected;
    next.size += bytes.size();
    next.lastWrite = ++writes;
    return next;
  }
  bool MoveIfPresent(const std::wstring&, const std::wstring&) override { return false; }
  std::uint64_t writes = 0;
};

std::wstring Path(int n) {
  return L"C:\\inetpub\\app" + std::to_wstring(n) + L"\\KorvalAppServer.dll";
}

class VersionCheckTest : public ::testing::Test {
 protected:
  // An engine with `targets` target DLLs configured (app1, app2, ...).
  void Build(int targets, const std::wstring& url = kVersionUrl) {
    for (int n = 1; n <= targets; ++n) {
      profiles.Set(L"VERZEICHNISSE", L"DLLPFAD" + std::to_wstring(n),
                   L"C:\\inetpub\\app" + std::to_wstring(n));
    }
    profiles.Set(L"URLS", L"VersionsNr", url);
    EnginePlatform platform;
    platform.programFolder = L"C:\\Programme\\KORVAL\\";
    platform.profiles = &profiles;
    platform.clock = &clock;
    platform.codec = &codec;
    platform.logFiles = &logStore;
    platform.http = &http;
    platform.versions = &versions;
    engine = std::make_unique<TDLLSynchronisierer>(platform);
  }

  // The run log's entry texts, without their time stamps.
  std::vector<std::wstring> Lines() const {
    std::vector<std::wstring> texts;
    for (const std::wstring& line : engine->ProtokollListe()) {
      std::size_t separator = line.find(L": ");
      texts.push_back(separator == std::wstring::npos ? line : line.substr(separator + 2));
    }
    return texts;
  }

  FakeProfileReader profiles;
  NoonClock clock;
  Latin1Codec codec;
  DiscardingLogStore logStore;
  FakeHttpFactory http;
  FakeVersionReader versions;
  std::unique_ptr<TDLLSynchronisierer> engine;
};

using Texts = std::vector<std::wstring>;

// --- the fetch and every reading succeed --------------------------------------------------

TEST_F(VersionCheckTest, AnOlderTargetFindsANewVersion) {
  Build(2);
  http.script.Respond(200, "2.1.0.1");
  versions.Set(Path(1), 2, 1, 0, 1);
  versions.Set(Path(2), 2, 1, 0, 0);
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kLese, kNeu}));
  EXPECT_EQ(versions.readPaths, (Texts{Path(1), Path(2)}));
  EXPECT_EQ(http.script.requestedUrls, (Texts{kVersionUrl}));
  EXPECT_EQ(http.script.maxBodyBytes, (std::vector<std::size_t>{65536}));
}

TEST_F(VersionCheckTest, CurrentTargetsAreUpToDate) {
  Build(2);
  http.script.Respond(200, "2.1.0.0");
  versions.Set(Path(1), 2, 1, 0, 0);
  versions.Set(Path(2), 2, 1, 0, 1);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kLese, kAktuell}));
}

TEST_F(VersionCheckTest, TheFirstOlderAndTheSecondCurrentReadsBoth) {
  Build(2);
  http.script.Respond(200, "2.1.0.1");
  versions.Set(Path(1), 2, 1, 0, 0);
  versions.Set(Path(2), 2, 1, 0, 1);
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kLese, kNeu}));
  EXPECT_EQ(versions.readPaths.size(), 2u);
  const std::vector<ZielBefund>& befund = engine->LetzterBefund();
  ASSERT_EQ(befund.size(), 2u);
  EXPECT_EQ(befund[0].pfad, Path(1));
  EXPECT_EQ(befund[0].version, L"2.1.0.0");
  EXPECT_TRUE(befund[0].aelter);
  EXPECT_FALSE(befund[1].aelter);
  EXPECT_FALSE(befund[1].neuer);
}

TEST_F(VersionCheckTest, TheHttpClientLivesForOneFetch) {
  Build(1);
  http.script.Respond(200, "2.1.0.0");
  versions.Set(Path(1), 2, 1, 0, 0);
  engine->PruefeAufNeueVersion();
  http.script.Respond(200, "2.1.0.0");
  engine->PruefeAufNeueVersion();
  EXPECT_EQ(http.script.sessionsCreated, 2);
  EXPECT_EQ(http.script.sessionsDestroyed, 2);
  EXPECT_EQ(http.proxyLogons, (std::vector<bool>{false, false}));
}

TEST_F(VersionCheckTest, ProxyAnmeldungReachesTheCheckClient) {
  profiles.Set(L"ABSICHERUNG", L"PROXYANMELDUNG", L"JA");
  Build(1);
  http.script.Respond(200, "2.1.0.0");
  versions.Set(Path(1), 2, 1, 0, 0);
  engine->PruefeAufNeueVersion();
  EXPECT_EQ(http.proxyLogons, (std::vector<bool>{true}));
}

// --- the comparison: dotted decimal versions compare part by part -------------------------

struct ComparisonCase {
  const char* online;
  unsigned local[4];
  bool older;
  bool newer = false;
};

class VersionComparisonTest : public VersionCheckTest,
                              public ::testing::WithParamInterface<ComparisonCase> {};

TEST_P(VersionComparisonTest, DecidesOlderByParts) {
  const ComparisonCase& c = GetParam();
  Build(1);
  http.script.Respond(200, c.online);
  versions.Set(Path(1), c.local[0], c.local[1], c.local[2], c.local[3]);
  EXPECT_EQ(engine->PruefeAufNeueVersion(), c.older);
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, c.older ? kNeu : kAktuell}));
  ASSERT_EQ(engine->LetzterBefund().size(), 1u);
  EXPECT_EQ(engine->LetzterBefund()[0].neuer, c.newer);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionComparisonTest,
    ::testing::Values(ComparisonCase{"2.1.0.1", {2, 1, 0, 0}, true},
                      ComparisonCase{"2.1.0.0", {2, 1, 0, 0}, false},
                      // joined digits would compare 21015 with 2110 and call it current
                      ComparisonCase{"2.1.1.0", {2, 1, 0, 15}, true},
                      // joined digits would compare 3000 with 21000 and install the older DLL
                      ComparisonCase{"2.10.0.0", {3, 0, 0, 0}, false, true},
                      // digits beyond the integers: a version a DLL can carry still compares
                      ComparisonCase{"1.0.9100.30001", {1, 0, 9100, 30000}, true},
                      ComparisonCase{"1.0.9100.30000", {1, 0, 9100, 30000}, false},
                      ComparisonCase{"1.0.9100.29999", {1, 0, 9100, 30000}, false, true},
                      ComparisonCase{"2.147.483.647", {2, 147, 483, 647}, false},
                      // leading blanks are accepted by the conversion and ignored by the parts
                      ComparisonCase{"   2.1.0.1", {2, 1, 0, 0}, true},
                      // a text that is no dotted decimal: the integer numbers decide
                      ComparisonCase{"$834", {2, 1, 0, 0}, false},
                      ComparisonCase{"2101", {2, 1, 0, 0}, true}));

// --- an empty list of targets --------------------------------------------------------------

TEST_F(VersionCheckTest, AnEmptyListIsCurrentWhateverTheBody) {
  Build(0);
  http.script.Respond(200, "<html>kein Versionstext</html>");
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kAktuell}));
}

TEST_F(VersionCheckTest, AnEmptyListAfterAFailedFetchIsCurrent) {
  Build(0);
  http.script.Fail(L"Fehler beim Senden der Daten: (12029) x");
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kFehlerAbfragen + L"Fehler beim Senden der Daten: (12029) x",
                            kAktuell}));
}

// --- the HTTP client cannot be created -----------------------------------------------------

TEST_F(VersionCheckTest, AClientThatCannotBeCreatedEndsTheCheck) {
  Build(1);
  http.createFailure = L"Systemfehler.  Code: 8.\r\nNicht genügend Speicher";
  versions.Set(Path(1), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kFehlerPruefen}));
  EXPECT_TRUE(versions.readPaths.empty());
}

// --- the request or the decoding fails -----------------------------------------------------

struct FetchFailureCase {
  const char* name;
  std::function<void(HttpScript&)> script;
  const wchar_t* message;
};

class FetchFailureTest : public VersionCheckTest,
                         public ::testing::WithParamInterface<FetchFailureCase> {};

TEST_P(FetchFailureTest, LogsTheMessageThenFailsTheFirstConversion) {
  Build(2);
  GetParam().script(http.script);
  versions.Set(Path(1), 2, 1, 0, 0);
  versions.Set(Path(2), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kFehlerAbfragen + GetParam().message, kLese, kFehlerPruefen}));
  EXPECT_EQ(versions.readPaths, (Texts{Path(1)}));
  EXPECT_EQ(engine->OnlineVersion(), L"");
  EXPECT_EQ(http.script.sessionsDestroyed, http.script.sessionsCreated);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FetchFailureTest,
    ::testing::Values(
        FetchFailureCase{"Send",
                         [](HttpScript& s) {
                           s.Fail(L"Fehler beim Senden der Daten: (12029) Keine Verbindung");
                         },
                         L"Fehler beim Senden der Daten: (12029) Keine Verbindung"},
        FetchFailureCase{
            "Receive",
            [](HttpScript& s) { s.Fail(L"Fehler beim Empfangen der Daten: (12002) Zeit"); },
            L"Fehler beim Empfangen der Daten: (12002) Zeit"},
        FetchFailureCase{
            "Read", [](HttpScript& s) { s.Fail(L"Fehler beim Lesen der Daten: (12030) Abbruch"); },
            L"Fehler beim Lesen der Daten: (12030) Abbruch"},
        FetchFailureCase{
            "Certificate",
            [](HttpScript& s) { s.Fail(L"Serverzertifikat ungültig oder nicht vorhanden"); },
            L"Serverzertifikat ungültig oder nicht vorhanden"},
        FetchFailureCase{"SixthRedirect",
                         [](HttpScript& s) {
                           for (int i = 0; i < 6; ++i) s.Redirect(302, L"/r" + std::to_wstring(i));
                         },
                         L"Maximale Anzahl von Umleitungen (5) überschritten"},
        FetchFailureCase{"InvalidUtf8", [](HttpScript& s) { s.Respond(200, "2.1.0.\xFC"); },
                         L"Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite "
                         L"vorhanden"},
        FetchFailureCase{
            "UnknownCharset",
            [](HttpScript& s) { s.Respond(200, "2.1.0.0", L"text/plain; charset=x-klingon"); },
            L"Ungültiger Codierungsname"},
        FetchFailureCase{"DamagedGzip",
                         [](HttpScript& s) { s.Respond(200, "not gzip at all", L"", L"gzip"); },
                         L"Fehler beim Lesen der Daten: Die komprimierten Daten (gzip) sind "
                         L"ungültig"}),
    [](const ::testing::TestParamInfo<FetchFailureCase>& info) { return info.param.name; });

TEST_F(VersionCheckTest, AUrlWithoutSchemeFailsTheFetch) {
  Build(1, L"update.test/KORVALAppDLLVersion.txt");
  versions.Set(Path(1), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(
      Lines(),
      (Texts{kPruefe, kFehlerAbfragen + L"Ungültiger URL: \"update.test/KORVALAppDLLVersion.txt\"",
             kLese, kFehlerPruefen}));
  EXPECT_TRUE(http.script.requestedUrls.empty());
}

// --- the online text is no number ----------------------------------------------------------

class OnlineTextNoNumberTest : public VersionCheckTest,
                               public ::testing::WithParamInterface<std::string> {};

TEST_P(OnlineTextNoNumberTest, FailsAfterTheFirstReading) {
  Build(2);
  http.script.Respond(200, GetParam());
  versions.Set(Path(1), 2, 1, 0, 0);
  versions.Set(Path(2), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kFehlerPruefen}));
  EXPECT_EQ(versions.readPaths.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Bodies, OnlineTextNoNumberTest,
                         ::testing::Values("2.1.0.0\r\n", "2.1.0.0\n", "\t2.1.0.0", "2.1.0.0 ",
                                           "\xEF\xBB\xBF\xEF\xBB\xBF"
                                           "2.1.0.0",
                                           "<html><body>404 Not Found</body></html>", ""));

TEST_F(VersionCheckTest, A404PageIsTheOnlineText) {
  Build(1);
  http.script.Respond(404, "<html>404</html>", L"text/html");
  versions.Set(Path(1), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kFehlerPruefen}));
  EXPECT_EQ(engine->OnlineVersion(), L"<html>404</html>");
}

TEST_F(VersionCheckTest, AByteOrderMarkIsDroppedAndLeadingBlanksAccepted) {
  Build(1);
  versions.Set(Path(1), 2, 1, 0, 0);
  for (const char* body : {"\xEF\xBB\xBF"
                           "2.1.0.0",
                           "  2.1.0.0"}) {
    http.script.Respond(200, body);
    EXPECT_FALSE(engine->PruefeAufNeueVersion()) << body;
  }
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kAktuell, kPruefe, kLese, kAktuell}));
}

TEST_F(VersionCheckTest, TheOnlineVersionStaysAvailableAfterASuccessfulFetch) {
  Build(1);
  versions.Set(Path(1), 2, 1, 0, 0);
  http.script.Respond(200, "2.1.0.1", L"text/plain; charset=utf-8");
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(engine->OnlineVersion(), L"2.1.0.1");
  http.script.Fail(L"Fehler beim Senden der Daten: (12029) x");
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(engine->OnlineVersion(), L"");
}

// --- a target DLL cannot be read -----------------------------------------------------------

TEST_F(VersionCheckTest, AMissingTargetEndsTheCheckWithTheFlagAsItStood) {
  Build(3);
  http.script.Respond(200, "2.1.0.1");
  versions.Set(Path(1), 2, 1, 0, 0);  // older
  // Path(2) has no readable version
  versions.Set(Path(3), 2, 1, 0, 1);
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kLese, kFehlerPruefen}));
  EXPECT_EQ(versions.readPaths, (Texts{Path(1), Path(2)}));
}

TEST_F(VersionCheckTest, AMissingFirstTargetReturnsFalse) {
  Build(2);
  http.script.Respond(200, "2.1.0.1");
  versions.Set(Path(2), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kFehlerPruefen}));
}

TEST_F(VersionCheckTest, AReadingThatRaisesIsLoggedThenEndsTheCheck) {
  Build(3);
  http.script.Respond(200, "2.1.0.1");
  versions.Set(Path(1), 2, 1, 0, 0);
  versions.SetFailure(Path(2), L"Zugriff verweigert");
  versions.Set(Path(3), 2, 1, 0, 1);
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kLese, kFehlerAuslesen, kFehlerPruefen}));
  EXPECT_EQ(versions.readPaths.size(), 2u);
}

TEST_F(VersionCheckTest, AReadingThatRaisesFirstReturnsFalse) {
  Build(1);
  http.script.Respond(200, "2.1.0.1");
  versions.SetFailure(Path(1), L"kaputt");
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kFehlerAuslesen, kFehlerPruefen}));
}

// --- versions whose digits exceed the integers --------------------------------------------

struct LocalNoNumberCase {
  unsigned local[4];
  bool convertible;  // whether the digits without the dots fit the integers
};

class LocalVersionRangeTest : public VersionCheckTest,
                              public ::testing::WithParamInterface<LocalNoNumberCase> {};

// Every product version a DLL can carry compares by its parts, also where its digits without the
// dots exceed the integers: such a DLL never makes the check fail.
TEST_P(LocalVersionRangeTest, EveryResourceVersionCompares) {
  const unsigned* v = GetParam().local;
  Build(2);
  http.script.Respond(200, "2.1.0.0");
  versions.Set(Path(1), 2, 1, 0, 1);
  versions.Set(Path(2), v[0], v[1], v[2], v[3]);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kLese, kAktuell}));
}

INSTANTIATE_TEST_SUITE_P(Versions, LocalVersionRangeTest,
                         ::testing::Values(LocalNoNumberCase{{2, 147, 483, 647}, true},
                                           LocalNoNumberCase{{2, 147, 483, 648}, false},
                                           LocalNoNumberCase{{65535, 65535, 65535, 65535}, false}));

TEST_F(VersionCheckTest, AnOnlineTextBeyondTheIntegersThatNoDllCanCarryFailsTheCheck) {
  Build(2);
  http.script.Respond(200, "2.1.0.10.999999");
  versions.Set(Path(1), 2, 1, 0, 0);
  versions.Set(Path(2), 2, 1, 0, 0);
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(Lines(), (Texts{kPruefe, kLese, kFehlerPruefen}));
}

// --- the online text is fetched once per check, converted for every entry ------------------

TEST_F(VersionCheckTest, EachCheckFetchesAndReadsAnew) {
  Build(1);
  versions.Set(Path(1), 2, 1, 0, 0);
  http.script.Respond(200, "2.1.0.0").Respond(200, "2.1.0.1");
  EXPECT_FALSE(engine->PruefeAufNeueVersion());
  EXPECT_TRUE(engine->PruefeAufNeueVersion());
  EXPECT_EQ(http.script.requestedUrls.size(), 2u);
  EXPECT_EQ(versions.readPaths.size(), 2u);
}

}  // namespace
