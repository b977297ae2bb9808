#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Models/DLLKonfiguration.h"
#include "core/Conversions.h"
#include "core/Exception.h"
#include "support/FakeProfileReader.h"

namespace {

const std::wstring kIni = L"C:\\Programme\\KORVAL\\KORVAL_Update_Service.ini";
const std::wstring kProgramFolder = L"C:\\Programme\\KORVAL\\";
const std::wstring kDefaultVersionUrl = L"https://update.korval.de/KORVALAppDLLVersion.txt";
const std::wstring kDefaultDllUrl = L"https://update.korval.de/KorvalAppServer.dll";

class DLLKonfigurationTest : public testing::Test {
 protected:
  std::unique_ptr<TDLLKonfiguration> Load(wchar_t separator = L',') {
    auto config = std::make_unique<TDLLKonfiguration>(kIni, profiles_, kProgramFolder, separator);
    config->LadeFelder();
    return config;
  }

  FakeProfileReader profiles_;
};

TEST_F(DLLKonfigurationTest, ConstructorKeepsTheFileNameAndReadsNothing) {
  profiles_.Set(L"VERZEICHNISSE", L"IISSITENAME", L"Site");
  profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\a");
  TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L',');
  EXPECT_TRUE(profiles_.Calls().empty());
  EXPECT_EQ(config.DateiName(), kIni);
  EXPECT_EQ(config.IISSiteName(), L"");
  EXPECT_EQ(config.Downloadpfad(), L"");
  EXPECT_EQ(config.DLLDownloadpfad(), L"");
  EXPECT_EQ(config.Protokollpfad(), L"");
  EXPECT_EQ(config.UpdateIntervall(), 0);
  EXPECT_TRUE(config.DLLPfadeListe().empty());
  EXPECT_FALSE(config.TestModus());
  EXPECT_EQ(config.URLVersionsNr(), L"");
  EXPECT_EQ(config.URLKorvalAppServerDLL(), L"");
}

TEST_F(DLLKonfigurationTest, DestructorFlushesTheFileOnceAndWritesNothingElse) {
  { TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L','); }
  ASSERT_EQ(profiles_.Calls().size(), 1u);
  EXPECT_EQ(profiles_.Calls()[0].kind, FakeProfileReader::Call::Kind::Flush);
  EXPECT_EQ(profiles_.Calls()[0].file, kIni);
}

TEST_F(DLLKonfigurationTest, NoFileGivesEveryDefault) {
  auto config = Load();
  EXPECT_EQ(config->IISSiteName(), L"Default Web Site");
  EXPECT_EQ(config->Downloadpfad(), kProgramFolder + L"Download\\");
  EXPECT_EQ(config->DLLDownloadpfad(), kProgramFolder + L"Download\\KorvalAppServer.dll");
  EXPECT_EQ(config->Protokollpfad(), kProgramFolder + L"Protokoll.txt");
  EXPECT_EQ(config->UpdateIntervall(), 43200000);
  EXPECT_TRUE(config->DLLPfadeListe().empty());
  EXPECT_FALSE(config->TestModus());
  EXPECT_EQ(config->URLVersionsNr(), kDefaultVersionUrl);
  EXPECT_EQ(config->URLKorvalAppServerDLL(), kDefaultDllUrl);
  EXPECT_EQ(config->IISAppPool(), L"");
  EXPECT_EQ(config->Statusseite(), L"");
  EXPECT_EQ(config->StatusWartezeit(), 60);
  EXPECT_EQ(config->ProtokollGenerationen(), 10);
  EXPECT_EQ(config->PrometheusDatei(), L"");
}

// The sample INI the package installs names every key the program reads, commented out, in its
// section, with its default (the program folder and the target list shown by example).
TEST_F(DLLKonfigurationTest, TheSampleIniListsEveryKeyWithItsDefault) {
  std::ifstream file(KORVAL_SOURCE_DIR "/installer/KORVAL_Update_Service.ini");
  ASSERT_TRUE(file) << "sample INI not found";
  std::map<std::string, std::vector<std::string>> sections;
  std::string line, section;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[", 0) == 0)
      section = line.substr(1, line.size() - 2);
    else
      sections[section].push_back(line);
  }
  Load();
  for (const auto& call : profiles_.Calls()) {
    if (call.kind == FakeProfileReader::Call::Kind::Flush) continue;
    const std::string key(call.key.begin(), call.key.end());
    const std::string name = key.rfind("DLLPFAD", 0) == 0 ? "DLLPFAD1" : key;
    const std::string value = call.defaultValue == kProgramFolder || name == "DLLPFAD1"
                                  ? ""
                                  : std::string(call.defaultValue.begin(), call.defaultValue.end());
    const auto& lines = sections[std::string(call.section.begin(), call.section.end())];
    bool found = false;
    for (const std::string& l : lines) {
      if (l.rfind("; " + name + "=" + value, 0) == 0) found = true;
      EXPECT_NE(l.rfind(name + "=", 0), 0u) << "live key in the sample: " << l;
    }
    EXPECT_TRUE(found) << "; " << name << "=" << value << " missing";
  }
}

TEST_F(DLLKonfigurationTest, MonitoringKeysAndTheirLimits) {
  struct Row {
    const wchar_t* generationen;
    int expected;  // -1: the load raises
  } rows[] = {{L"0", 0}, {L"3", 3}, {L"999", 999}, {L"-1", -1}, {L"1000", -1}, {L"zehn", -1}};
  for (const Row& row : rows) {
    profiles_.Set(L"UEBERWACHUNG", L"PROTOKOLLGENERATIONEN", row.generationen);
    profiles_.Set(L"UEBERWACHUNG", L"PROMETHEUSDATEI", L"C:\\metrics\\korval.prom");
    if (row.expected < 0) {
      EXPECT_THROW(Load(), Exception);
      continue;
    }
    auto config = Load();
    EXPECT_EQ(config->ProtokollGenerationen(), row.expected);
    EXPECT_EQ(config->PrometheusDatei(), L"C:\\metrics\\korval.prom");
  }
}

TEST_F(DLLKonfigurationTest, ReadsEveryKeyInOrderWithItsDefault) {
  auto config = Load();
  std::vector<std::wstring> expected = {
      L"ReadString VERZEICHNISSE/IISSITENAME", L"ReadString VERZEICHNISSE/DOWNLOADPFAD",
      L"ReadString VERZEICHNISSE/PROTOKOLLPFAD", L"ReadString VERZEICHNISSE/UPDATEINTERVALL"};
  for (int n = 1; n <= 30; ++n) {
    expected.push_back(L"ValueExists VERZEICHNISSE/DLLPFAD" + std::to_wstring(n));
  }
  expected.push_back(L"ReadString ENTWICKLUNG/Testmodus");
  expected.push_back(L"ReadString URLS/VersionsNr");
  expected.push_back(L"ReadString URLS/KorvalAppServerDLL");
  expected.push_back(L"ReadString VERZEICHNISSE/IISAPPPOOL");
  expected.push_back(L"ReadString ABSICHERUNG/STATUSSEITE");
  expected.push_back(L"ReadString ABSICHERUNG/STATUSWARTEZEIT");
  expected.push_back(L"ReadString ABSICHERUNG/SIGNATURSCHLUESSEL");
  expected.push_back(L"ReadString ABSICHERUNG/PROXYANMELDUNG");
  expected.push_back(L"ReadString VERZEICHNISSE/IISMODUS");
  expected.push_back(L"ReadString UEBERWACHUNG/PROTOKOLLGENERATIONEN");
  expected.push_back(L"ReadString UEBERWACHUNG/PROMETHEUSDATEI");
  for (const wchar_t* key : {L"ZEITFENSTER", L"STREUUNG", L"WIEDERHOLUNGEN", L"VERZOEGERUNG"}) {
    expected.push_back(std::wstring(L"ReadString ZEITPLAN/") + key);
  }
  expected.push_back(L"ReadString ABSICHERUNG/RELEASESCHLUESSEL");
  expected.push_back(L"ReadString URLS/RELEASEDATEIEN");
  expected.push_back(L"ReadString ZEITPLAN/ZEITSTEMPELINTERVALL");
  EXPECT_EQ(profiles_.CallLog(), expected);
  EXPECT_EQ(profiles_.Calls()[41].defaultValue, L"NEIN");
  EXPECT_FALSE(config->ProxyAnmeldung());
  EXPECT_EQ(profiles_.Calls()[42].defaultValue, L"STOPP");
  EXPECT_EQ(config->IISModus(), SiteMode::Stop);

  const auto& calls = profiles_.Calls();
  const std::vector<std::wstring> defaults = {L"Default Web Site", kProgramFolder, kProgramFolder,
                                              L"12"};
  for (std::size_t i = 0; i < defaults.size(); ++i) EXPECT_EQ(calls[i].defaultValue, defaults[i]);
  EXPECT_EQ(calls[34].defaultValue, L"0");
  EXPECT_EQ(calls[35].defaultValue, kDefaultVersionUrl);
  EXPECT_EQ(calls[36].defaultValue, kDefaultDllUrl);
  EXPECT_EQ(calls[39].defaultValue, L"60");
  EXPECT_EQ(calls[45].defaultValue, L"0;12");
  for (std::size_t i = 46; i < 49; ++i) EXPECT_EQ(calls[i].defaultValue, L"0");
  // Without a release key nothing of the signed files is used; their folder is the version
  // text's.
  EXPECT_EQ(calls[49].defaultValue, L"");
  EXPECT_TRUE(config->Releaseschluessel().empty());
  EXPECT_EQ(calls[50].defaultValue, L"https://update.korval.de/");
  EXPECT_EQ(calls[51].defaultValue, L"60");
  EXPECT_EQ(config->Zeitfenster(), (std::vector<int>{0, 12}));
  EXPECT_EQ(config->Streuung() + config->Wiederholungen() + config->Verzoegerung(), 0);
  for (const auto& call : calls) EXPECT_EQ(call.file, kIni);
}

TEST_F(DLLKonfigurationTest, ReadsAPresentDllKeyRightAfterItsExistenceTestWithEmptyDefault) {
  profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD2", L"C:\\a");
  auto config = Load();
  const auto log = profiles_.CallLog();
  const auto& calls = profiles_.Calls();
  ASSERT_EQ(log.size(), 53u);
  EXPECT_EQ(log[5], L"ValueExists VERZEICHNISSE/DLLPFAD2");
  EXPECT_EQ(log[6], L"ReadString VERZEICHNISSE/DLLPFAD2");
  EXPECT_EQ(calls[6].defaultValue, L"");
  EXPECT_EQ(log[7], L"ValueExists VERZEICHNISSE/DLLPFAD3");
}

TEST_F(DLLKonfigurationTest, TakesEveryValueAsWritten) {
  profiles_.Set(L"VERZEICHNISSE", L"IISSITENAME", L"KORVAL Site");
  profiles_.Set(L"VERZEICHNISSE", L"DOWNLOADPFAD", L"D:\\Daten");
  profiles_.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"..\\log\\");
  profiles_.Set(L"ENTWICKLUNG", L"Testmodus", L"1");
  profiles_.Set(L"URLS", L"VersionsNr", L"http://127.0.0.1/v.txt");
  profiles_.Set(L"URLS", L"KorvalAppServerDLL", L"http://127.0.0.1/d.dll");
  profiles_.Set(L"VERZEICHNISSE", L"IISAPPPOOL", L"KORVAL Pool");
  profiles_.Set(L"ABSICHERUNG", L"STATUSSEITE", L"http://localhost/status");
  profiles_.Set(L"ABSICHERUNG", L"STATUSWARTEZEIT", L"$1E");
  auto config = Load();
  EXPECT_EQ(config->IISAppPool(), L"KORVAL Pool");
  EXPECT_EQ(config->Statusseite(), L"http://localhost/status");
  EXPECT_EQ(config->StatusWartezeit(), 30);
  EXPECT_EQ(config->IISSiteName(), L"KORVAL Site");
  EXPECT_EQ(config->Downloadpfad(), L"D:\\Daten\\Download\\");
  EXPECT_EQ(config->DLLDownloadpfad(), L"D:\\Daten\\Download\\KorvalAppServer.dll");
  EXPECT_EQ(config->Protokollpfad(), L"..\\log\\Protokoll.txt");
  EXPECT_TRUE(config->TestModus());
  EXPECT_EQ(config->URLVersionsNr(), L"http://127.0.0.1/v.txt");
  EXPECT_EQ(config->URLKorvalAppServerDLL(), L"http://127.0.0.1/d.dll");
}

TEST_F(DLLKonfigurationTest, IisModusIsStoppOrRecycleAndNothingElse) {
  profiles_.Set(L"VERZEICHNISSE", L"IISMODUS", L"RECYCLE");
  EXPECT_EQ(Load()->IISModus(), SiteMode::Recycle);
  profiles_.Set(L"VERZEICHNISSE", L"IISMODUS", L"NEUSTART");
  TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L',');
  EXPECT_THROW(config.LadeFelder(), Exception);
}

TEST_F(DLLKonfigurationTest, ProxyAnmeldungIsNeinOrJaAndNothingElse) {
  const struct {
    const wchar_t* value;
    std::optional<bool> expected;  // none: the start fails
  } rows[] = {{L"NEIN", false},    {L" ja ", true},      {L"JA", true},
              {L"", std::nullopt}, {L"1", std::nullopt}, {L"JAWOHL", std::nullopt}};
  for (const auto& row : rows) {
    profiles_.Set(L"ABSICHERUNG", L"PROXYANMELDUNG", row.value);
    TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L',');
    if (row.expected) {
      config.LadeFelder();
      EXPECT_EQ(config.ProxyAnmeldung(), *row.expected) << row.value;
    } else {
      EXPECT_THROW(config.LadeFelder(), Exception) << row.value;
    }
  }
}

TEST_F(DLLKonfigurationTest, PresentButEmptyFoldersAreNotTheDefault) {
  profiles_.Set(L"VERZEICHNISSE", L"DOWNLOADPFAD", L"");
  profiles_.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"");
  auto config = Load();
  EXPECT_EQ(config->Downloadpfad(), L"\\Download\\");
  EXPECT_EQ(config->DLLDownloadpfad(), L"\\Download\\KorvalAppServer.dll");
  EXPECT_EQ(config->Protokollpfad(), L"\\Protokoll.txt");
}

TEST_F(DLLKonfigurationTest, KeysMatchInAnyLetterCase) {
  profiles_.Set(L"urls", L"versionsnr", L"http://127.0.0.1/v.txt");
  profiles_.Set(L"Entwicklung", L"testmodus", L"true");
  profiles_.Set(L"verzeichnisse", L"dllpfad2", L"C:\\x");
  auto config = Load();
  EXPECT_EQ(config->URLVersionsNr(), L"http://127.0.0.1/v.txt");
  EXPECT_TRUE(config->TestModus());
  EXPECT_EQ(config->DLLPfadeListe(), std::vector<std::wstring>{L"C:\\x\\KorvalAppServer.dll"});
}

struct IntervalCase {
  std::optional<std::wstring> value;  // nullopt: key missing
  std::int32_t expected;
};

void PrintTo(const IntervalCase& c, std::ostream* os) {
  *os << (c.value ? testing::PrintToString(*c.value) : "(missing)") << " -> " << c.expected;
}

class UpdateIntervallTest : public DLLKonfigurationTest,
                            public testing::WithParamInterface<IntervalCase> {};

TEST_P(UpdateIntervallTest, HoursBecomeWrappedMilliseconds) {
  if (GetParam().value) profiles_.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", *GetParam().value);
  EXPECT_EQ(Load()->UpdateIntervall(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateIntervallTest,
    testing::Values(IntervalCase{std::nullopt, 43200000}, IntervalCase{L"24", 86400000},
                    IntervalCase{L"$18", 86400000}, IntervalCase{L"0", 0},
                    IntervalCase{L"-3", -10800000}, IntervalCase{L"1", 3600000},
                    IntervalCase{L"596", 2145600000},
                    IntervalCase{L"597", -2145767296},  // 2149200000 - 2^32
                    IntervalCase{L"1000", -694967296},  // 3600000000 - 2^32
                    IntervalCase{L"-1000", 694967296},
                    IntervalCase{L"2147483647", -3600000},  // (2^31 - 1) * 3600000 mod 2^32
                    IntervalCase{L"-2147483648", 0},        // 2^31 * 3600000 is 0 mod 2^32
                    IntervalCase{L"$FFFFFFFF", -3600000}));

struct FailureCase {
  std::wstring intervall;
  std::optional<std::wstring> testmodus;
  std::optional<std::wstring> statusWartezeit;
  std::wstring message;
  std::size_t readsBeforeFailure;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.intervall) << ", "
      << (c.testmodus ? testing::PrintToString(*c.testmodus) : "(missing)");
}

class LoadFailureTest : public DLLKonfigurationTest,
                        public testing::WithParamInterface<FailureCase> {};

TEST_P(LoadFailureTest, StopsAtTheFirstBadValueAndLeavesLaterPropertiesUnset) {
  const FailureCase& c = GetParam();
  profiles_.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", c.intervall);
  if (c.testmodus) profiles_.Set(L"ENTWICKLUNG", L"Testmodus", *c.testmodus);
  if (c.statusWartezeit) profiles_.Set(L"ABSICHERUNG", L"STATUSWARTEZEIT", *c.statusWartezeit);
  profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\a");
  TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L',');
  try {
    config.LadeFelder();
    ADD_FAILURE() << "loaded";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), c.message);
  }
  EXPECT_EQ(profiles_.Calls().size(), c.readsBeforeFailure);
  EXPECT_EQ(config.IISSiteName(), L"Default Web Site");
  if (c.statusWartezeit) return;  // every original key was read before
  EXPECT_EQ(config.URLVersionsNr(), L"");
  EXPECT_EQ(config.URLKorvalAppServerDLL(), L"");
  EXPECT_FALSE(config.TestModus());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoadFailureTest,
    testing::Values(
        FailureCase{L"12h", L"ja", std::nullopt,
                    L"'12h' ist kein gültiger Integerwert für Typ 'Integer'", 4},
        FailureCase{L"", std::nullopt, std::nullopt,
                    L"'' ist kein gültiger Integerwert für Typ 'Integer'", 4},
        FailureCase{L"1.5", std::nullopt, std::nullopt,
                    L"'1.5' ist kein gültiger Integerwert für Typ 'Integer'", 4},
        FailureCase{L"12", L"ja", std::nullopt, L"'ja' ist kein gültiger boolescher Wert", 36},
        FailureCase{L"12", L"yes", std::nullopt, L"'yes' ist kein gültiger boolescher Wert", 36},
        FailureCase{L"12", L"", std::nullopt, L"'' ist kein gültiger boolescher Wert", 36},
        FailureCase{L"12", L"1.5", std::nullopt, L"'1.5' ist kein gültiger boolescher Wert", 36},
        FailureCase{L"12", L"0", L"60s", L"'60s' ist kein gültiger Integerwert für Typ 'Integer'",
                    41}));

TEST_F(DLLKonfigurationTest, BadIntervalLeavesTheListEmptyAndTheIntervalUnset) {
  profiles_.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", L"x");
  profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\a");
  TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L',');
  EXPECT_THROW(config.LadeFelder(), EConvertError);
  EXPECT_TRUE(config.DLLPfadeListe().empty());
  EXPECT_EQ(config.UpdateIntervall(), 0);
}

TEST_F(DLLKonfigurationTest, TestModusUsesTheGivenDecimalSeparator) {
  profiles_.Set(L"ENTWICKLUNG", L"Testmodus", L"0,0");
  EXPECT_FALSE(Load(L',')->TestModus());
  EXPECT_THROW(Load(L'.'), EConvertError);
  profiles_.Set(L"ENTWICKLUNG", L"Testmodus", L"0.5");
  EXPECT_TRUE(Load(L'.')->TestModus());
}

struct ListCase {
  const char* name;
  std::vector<std::pair<std::wstring, std::wstring>> keys;
  std::vector<std::wstring> expected;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class DLLPfadeListeTest : public DLLKonfigurationTest,
                          public testing::WithParamInterface<ListCase> {};

TEST_P(DLLPfadeListeTest, HoldsTheTargetsInKeyOrder) {
  for (const auto& [key, value] : GetParam().keys) profiles_.Set(L"VERZEICHNISSE", key, value);
  EXPECT_EQ(Load()->DLLPfadeListe(), GetParam().expected);
}

const std::wstring kDll = L"KorvalAppServer.dll";

INSTANTIATE_TEST_SUITE_P(
    Table, DLLPfadeListeTest,
    testing::Values(
        ListCase{"OnlyThreeAndSeven",
                 {{L"DLLPFAD7", L"C:\\sieben"}, {L"DLLPFAD3", L"C:\\drei"}},
                 {L"C:\\drei\\" + kDll, L"C:\\sieben\\" + kDll}},
        ListCase{"ZeroThirtyOneAndLeadingZeroIgnored",
                 {{L"DLLPFAD0", L"C:\\a"}, {L"DLLPFAD31", L"C:\\b"}, {L"DLLPFAD01", L"C:\\c"}},
                 {}},
        ListCase{"FirstAndThirtieth",
                 {{L"DLLPFAD30", L"C:\\z"}, {L"DLLPFAD1", L"C:\\a"}},
                 {L"C:\\a\\" + kDll, L"C:\\z\\" + kDll}},
        ListCase{"EmptyFirstKeySkipped",
                 {{L"DLLPFAD1", L""}, {L"DLLPFAD2", L"C:\\b"}},
                 {L"C:\\b\\" + kDll}},
        ListCase{"DuplicatesKept",
                 {{L"DLLPFAD1", L"C:\\inetpub\\app"}, {L"DLLPFAD2", L"C:\\inetpub\\app\\"}},
                 {L"C:\\inetpub\\app\\" + kDll, L"C:\\inetpub\\app\\" + kDll}},
        ListCase{"SlashGetsABackslash",
                 {{L"DLLPFAD1", L"C:/inetpub/app/"}},
                 {L"C:/inetpub/app/\\" + kDll}},
        ListCase{"RelativeAndBlankKeptAsWritten",
                 {{L"DLLPFAD1", L"app"}, {L"DLLPFAD2", L" "}},
                 {L"app\\" + kDll, L" \\" + kDll}}),
    [](const testing::TestParamInfo<ListCase>& info) { return info.param.name; });

TEST_F(DLLKonfigurationTest, LoadingAgainRebuildsTheList) {
  profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\a");
  auto config = Load();
  profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\b");
  config->LadeFelder();
  EXPECT_EQ(config->DLLPfadeListe(), std::vector<std::wstring>{L"C:\\b\\" + kDll});
}

}  // namespace

// The fleet settings: each value as written, or the start fails with the reason.
TEST_F(DLLKonfigurationTest, ZeitplanValuesAndTheirLimits) {
  struct Case {
    const wchar_t *fenster, *streuung, *wiederholungen, *verzoegerung;
    const wchar_t* failure;  // nullptr: loads
  } cases[] = {
      {L"2", L"1439", L"3", L"24", nullptr},
      {L"0;12", L"719", L"0", L"0", nullptr},
      {L"0;12", L"720", L"0", L"0",
       L"'720' liegt für STREUUNG nicht zwischen 0 und 719 Minuten (kleiner als der Abstand zweier "
       L"Zeitfenster)"},
      {L"1;3", L"$78", L"0", L"0",
       L"'$78' liegt für STREUUNG nicht zwischen 0 und 119 Minuten (kleiner als der Abstand zweier "
       L"Zeitfenster)"},
      {L"12;24", L"0", L"0", L"0",
       L"'12;24' ist keine gültige Liste von Stunden (0 bis 23, getrennt durch \";\")"},
      {L"", L"0", L"0", L"0",
       L"'' ist keine gültige Liste von Stunden (0 bis 23, getrennt durch \";\")"},
      {L"0;12", L"sechzig", L"0", L"0",
       L"'sechzig' ist kein gültiger Integerwert für Typ 'Integer'"},
      {L"0;12", L"0", L"-1", L"0",
       L"'-1' liegt für WIEDERHOLUNGEN nicht zwischen 0 und 100 Versuche"},
      {L"0;12", L"0", L"0", L"1 Tag", L"'1 Tag' ist kein gültiger Integerwert für Typ 'Integer'"},
      {L"0;12", L"0", L"0", L"8761",
       L"'8761' liegt für VERZOEGERUNG nicht zwischen 0 und 8760 Stunden"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.fenster) + L"/" + c.streuung));
    profiles_.Set(L"ZEITPLAN", L"ZEITFENSTER", c.fenster);
    profiles_.Set(L"ZEITPLAN", L"STREUUNG", c.streuung);
    profiles_.Set(L"ZEITPLAN", L"WIEDERHOLUNGEN", c.wiederholungen);
    profiles_.Set(L"ZEITPLAN", L"VERZOEGERUNG", c.verzoegerung);
    TDLLKonfiguration config(kIni, profiles_, kProgramFolder, L',');
    try {
      config.LadeFelder();
      EXPECT_EQ(c.failure, nullptr);
      EXPECT_EQ(config.Streuung(), StrToInt(c.streuung));
      EXPECT_EQ(config.Wiederholungen(), StrToInt(c.wiederholungen));
      EXPECT_EQ(config.Verzoegerung(), StrToInt(c.verzoegerung));
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.failure == nullptr ? L"<loads>" : c.failure);
    }
  }
}
