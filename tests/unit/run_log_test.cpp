#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <stdexcept>

#include "Models/DLLSynchronisierer.h"
#include "Models/RunLog.h"
#include "Models/RunLogFile.h"
#include "core/Exception.h"
#include "core/LogGenerations.h"
#include "support/FakeClock.h"
#include "support/FakeProfileReader.h"
#include "support/FakeTextCodec.h"
#include "support/MemoryLogFileStore.h"

namespace {

const std::wstring kPath = L"C:\\KORVAL\\Protokoll.txt";

// What a complete rewrite of the run log gives, built without the per-line conversion that
// RunLogFile uses: the whole text joined first, then converted at once.
std::string FullRewrite(const std::vector<std::wstring>& lines, unsigned codePage) {
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\r\n";
  if (codePage == 65001) return "\xEF\xBB\xBF" + EncodeUtf8(text);
  std::string bytes;
  for (wchar_t c : text)
    bytes += static_cast<std::uint32_t>(c) <= 0xFF ? static_cast<char>(c) : '?';
  return bytes;
}

class RunLogFileTest : public ::testing::Test {
 protected:
  void Add(const std::wstring& line) {
    lines.push_back(line);
    log.Save(store, codec, kPath, lines);
  }
  std::string File() const { return store.Contents(kPath); }

  MemoryLogFileStore store;
  FakeTextCodec codec{1252};
  RunLogFile log;
  std::vector<std::wstring> lines;
};

TEST_F(RunLogFileTest, FirstSaveReplacesTheFileOfAnEarlierRun) {
  store.ForeignReplace(kPath, "01.06.2025 12:00:00: Service gestartet.\r\nalter Lauf\r\n");
  Add(L"05.06.2025 12:00:05: Service gestartet.");
  EXPECT_EQ(File(), "05.06.2025 12:00:05: Service gestartet.\r\n");
}

// Three runs with two generations kept: the first run's file drops out, the newest earlier run
// is generation 1. A missing generation leaves no gap-filling rename; zero keeps none.
TEST_F(RunLogFileTest, EachRunKeepsTheEarlierFilesUpToTheGenerationCount) {
  const std::wstring first = L"C:\\KORVAL\\Protokoll.1.txt";
  const std::wstring second = L"C:\\KORVAL\\Protokoll.2.txt";
  for (const char* run : {"a", "b", "c", "d"}) {
    RunLogFile perRun;
    perRun.SetGenerations(2);
    std::vector<std::wstring> runLines = {std::wstring(run, run + 1)};
    perRun.Save(store, codec, kPath, runLines);
    runLines.push_back(L"x");
    perRun.Save(store, codec, kPath, runLines);  // later lines do not shift again
  }
  EXPECT_EQ(File(), "d\r\nx\r\n");
  EXPECT_EQ(store.Contents(first), "c\r\nx\r\n");
  EXPECT_EQ(store.Contents(second), "b\r\nx\r\n");
  EXPECT_FALSE(store.Exists(L"C:\\KORVAL\\Protokoll.3.txt"));

  RunLogFile none;
  none.SetGenerations(0);
  none.Save(store, codec, kPath, {L"e"});
  EXPECT_EQ(File(), "e\r\n");
  EXPECT_EQ(store.Contents(first), "c\r\nx\r\n");
}

TEST_F(RunLogFileTest, AGenerationThatCannotBeMovedCostsTheRunNotItsLog) {
  store.ForeignReplace(kPath, "alt\r\n");
  store.BlockOpens(L"C:\\KORVAL\\Protokoll.1.txt");
  log.SetGenerations(3);
  Add(L"neu");
  EXPECT_EQ(File(), "neu\r\n");
}

TEST(LogGenerationsTest, NamesAndOrderOfTheShift) {
  EXPECT_EQ(GenerationPath(L"C:\\a.b\\Protokoll.txt", 3), L"C:\\a.b\\Protokoll.3.txt");
  EXPECT_EQ(GenerationPath(L"C:\\a.b\\Protokoll", 1), L"C:\\a.b\\Protokoll.1");
  using Moves = std::vector<std::pair<std::wstring, std::wstring>>;
  EXPECT_EQ(GenerationShift(L"P.txt", 3),
            (Moves{{L"P.2.txt", L"P.3.txt"}, {L"P.1.txt", L"P.2.txt"}, {L"P.txt", L"P.1.txt"}}));
  EXPECT_EQ(GenerationShift(L"P.txt", 1), (Moves{{L"P.txt", L"P.1.txt"}}));
  EXPECT_TRUE(GenerationShift(L"P.txt", 0).empty());
}

TEST_F(RunLogFileTest, EveryLineEndsInCrLfTheLastToo) {
  Add(L"a");
  Add(L"b");
  Add(L"");
  EXPECT_EQ(File(), "a\r\nb\r\n\r\n");
}

TEST_F(RunLogFileTest, CodePage1252WritesUmlautAsOneByteWithoutByteOrderMark) {
  Add(L"Prüfe auf neue Version.");
  EXPECT_EQ(File(),
            "Pr\xFC"
            "fe auf neue Version.\r\n");
}

TEST_F(RunLogFileTest, CharacterOutsideTheCodePageIsReplaced) {
  Add(L"Preis 5 \x20AC");
  EXPECT_EQ(File(), "Preis 5 ?\r\n");
}

TEST_F(RunLogFileTest, CodePage65001StartsWithByteOrderMarkOnce) {
  codec.SetAnsiCodePage(65001);
  Add(L"Prüfe auf neue Version.");
  Add(L"Version aktuell.");
  EXPECT_EQ(File(),
            "\xEF\xBB\xBFPr\xC3\xBC"
            "fe auf neue Version.\r\nVersion aktuell.\r\n");
}

TEST_F(RunLogFileTest, EmptyLogIsWrittenAsAnEmptyFileOrTheByteOrderMarkAlone) {
  log.Save(store, codec, kPath, lines);
  EXPECT_TRUE(store.Exists(kPath));
  EXPECT_EQ(File(), "");
  codec.SetAnsiCodePage(65001);
  RunLogFile utf8Log;
  utf8Log.Save(store, codec, kPath, lines);
  EXPECT_EQ(File(), "\xEF\xBB\xBF");
}

TEST_F(RunLogFileTest, LaterEntriesAppendOnlyTheNewLine) {
  Add(L"erste Zeile");
  for (int i = 0; i < 50; ++i) {
    std::uint64_t before = store.BytesWritten();
    int conversions = codec.ToAnsiCalls();
    Add(L"Zeile " + std::to_wstring(i));
    EXPECT_EQ(store.BytesWritten() - before, lines.back().size() + 2);
    EXPECT_EQ(codec.ToAnsiCalls() - conversions, 1);
  }
  EXPECT_EQ(store.Rewrites(), 1);
  EXPECT_EQ(store.Appends(), 50);
  EXPECT_EQ(File(), FullRewrite(lines, 1252));
}

TEST_F(RunLogFileTest, FileThatCannotBeOpenedRaisesAndTheNextSaveWritesEveryLine) {
  Add(L"eins");
  store.BlockOpens(kPath);
  EXPECT_THROW(Add(L"zwei"), Exception);
  EXPECT_THROW(Add(L"drei"), Exception);
  EXPECT_EQ(File(), "eins\r\n");
  store.AllowOpens(kPath);
  Add(L"vier");
  EXPECT_EQ(File(), "eins\r\nzwei\r\ndrei\r\nvier\r\n");
}

TEST_F(RunLogFileTest, MissingFolderAtTheFirstEntryLeavesNoFileUntilItExists) {
  store.BlockOpens(kPath);
  EXPECT_THROW(Add(L"Service gestartet."), Exception);
  EXPECT_FALSE(store.Exists(kPath));
  store.AllowOpens(kPath);
  Add(L"Prüfe auf neue Version.");
  EXPECT_EQ(File(), FullRewrite(lines, 1252));
}

TEST_F(RunLogFileTest, FailedRewriteIsRepairedByTheNextSave) {
  store.FailNextWrite(3);
  EXPECT_THROW(Add(L"eins"), Exception);
  EXPECT_EQ(File(), "ein");
  Add(L"zwei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\n");
  Add(L"drei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\ndrei\r\n");
}

TEST_F(RunLogFileTest, FailedAppendFallsBackToAFullRewrite) {
  Add(L"eins");
  store.FailNextWrite(2);
  Add(L"zwei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\n");
  EXPECT_EQ(store.Rewrites(), 2);
}

TEST_F(RunLogFileTest, DeletedFileIsWrittenWhole) {
  Add(L"eins");
  Add(L"zwei");
  store.Remove(kPath);
  Add(L"drei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\ndrei\r\n");
}

TEST_F(RunLogFileTest, ForeignChangeOfTheSameSizeIsOverwritten) {
  Add(L"eins");
  store.ForeignReplace(kPath, "EINS\r\n");
  Add(L"zwei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\n");
}

TEST_F(RunLogFileTest, ForeignAppendIsOverwritten) {
  Add(L"eins");
  store.ForeignAppend(kPath, "fremd\r\n");
  Add(L"zwei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\n");
}

TEST_F(RunLogFileTest, NewPathGetsTheWholeLog) {
  Add(L"eins");
  const std::wstring other = L"D:\\Protokoll.txt";
  lines.push_back(L"zwei");
  log.Save(store, codec, other, lines);
  EXPECT_EQ(store.Contents(other), "eins\r\nzwei\r\n");
  Add(L"drei");
  EXPECT_EQ(File(), "eins\r\nzwei\r\ndrei\r\n");
}

TEST_F(RunLogFileTest, ShorterListThanTheFileIsRewritten) {
  Add(L"eins");
  Add(L"zwei");
  lines = {L"neu"};
  log.Save(store, codec, kPath, lines);
  EXPECT_EQ(File(), "neu\r\n");
}

// Whatever happens to the file between entries, the file after a successful save is exactly
// what writing the whole log at once gives, and undisturbed entries cost one appended line.
struct ScenarioParam {
  unsigned codePage;
  unsigned seed;
};

class RunLogScenarioTest : public ::testing::TestWithParam<ScenarioParam> {};

TEST_P(RunLogScenarioTest, FileAlwaysEqualsAFullRewrite) {
  MemoryLogFileStore store;
  FakeTextCodec codec(GetParam().codePage);
  RunLogFile log;
  std::vector<std::wstring> lines;
  std::mt19937 random(GetParam().seed);
  const std::wstring texts[] = {L"Prüfe auf neue Version.", L"", L"Zeile\r\nFortsetzung",
                                L"Größe \x20AC \x3042", L"Version aktuell."};
  bool blocked = false;
  bool previousSaved = false;
  int succeeded = 0;
  for (int step = 0; step < 400; ++step) {
    int event = static_cast<int>(random() % 20);
    if (event == 0) store.Remove(kPath);
    if (event == 1) store.ForeignAppend(kPath, "x");
    if (event == 2) store.ForeignReplace(kPath, std::string(store.Contents(kPath).size(), 'y'));
    if (event == 3) store.FailNextWrite(random() % 8);
    if (event == 4) blocked = true;
    if (event >= 5 && event < 10) blocked = false;
    blocked ? store.BlockOpens(kPath) : store.AllowOpens(kPath);
    lines.push_back(texts[random() % 5] + L" " + std::to_wstring(step));
    bool failureAhead = blocked || store.WriteFailurePending();
    bool undisturbed = previousSaved && event >= 5 && !failureAhead;
    int appendsBefore = store.Appends();
    int rewritesBefore = store.Rewrites();
    try {
      log.Save(store, codec, kPath, lines);
      previousSaved = true;
      ++succeeded;
      ASSERT_EQ(store.Contents(kPath), FullRewrite(lines, GetParam().codePage)) << "step " << step;
    } catch (const Exception&) {
      previousSaved = false;
      ASSERT_TRUE(failureAhead) << "step " << step;
    }
    if (undisturbed) {
      EXPECT_EQ(store.Appends(), appendsBefore + 1) << "step " << step;
      EXPECT_EQ(store.Rewrites(), rewritesBefore) << "step " << step;
    }
  }
  EXPECT_GT(succeeded, 250);
}

INSTANTIATE_TEST_SUITE_P(Sequences, RunLogScenarioTest,
                         ::testing::Values(ScenarioParam{1252, 1}, ScenarioParam{1252, 2},
                                           ScenarioParam{1252, 3}, ScenarioParam{65001, 4},
                                           ScenarioParam{65001, 5}, ScenarioParam{65001, 6}),
                         [](const ::testing::TestParamInfo<ScenarioParam>& info) {
                           return "CodePage" + std::to_string(info.param.codePage) + "Seed" +
                                  std::to_string(info.param.seed);
                         });

// --- The engine's run log ---------------------------------------------------------------------

const std::wstring kProgramFolder = L"C:\\Programme\\KORVAL\\";
const std::wstring kDefaultLog = kProgramFolder + L"Protokoll.txt";

class EngineRunLogTest : public ::testing::Test {
 protected:
  EngineRunLogTest() {
    platform.programFolder = kProgramFolder;
    platform.regional.shortDatePattern = L"dd.MM.yyyy";
    platform.regional.longTimePattern = L"HH:mm:ss";
    platform.profiles = &profiles;
    platform.clock = &clock;
    platform.codec = &codec;
    platform.logFiles = &store;
  }
  std::unique_ptr<TDLLSynchronisierer> Create() {
    return std::make_unique<TDLLSynchronisierer>(platform);
  }

  FakeProfileReader profiles;
  FakeClock clock{MakeLocalTime(2025, 6, 5, 12, 0, 5)};
  FakeTextCodec codec{1252};
  MemoryLogFileStore store;
  EnginePlatform platform;
};

TEST_F(EngineRunLogTest, ConstructorLoadsTheIniBesideTheProgramAndWritesNothing) {
  profiles.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"D:\\Logs");
  store.ForeignReplace(L"D:\\Logs\\Protokoll.txt", "alter Lauf\r\n");
  auto engine = Create();
  EXPECT_EQ(engine->DLLKonfiguration().DateiName(), kProgramFolder + L"KORVAL_Update_Service.ini");
  EXPECT_EQ(engine->DLLKonfiguration().Protokollpfad(), L"D:\\Logs\\Protokoll.txt");
  EXPECT_EQ(engine->DLLKonfiguration().URLKorvalAppServerDLL().rfind(L"https://", 0), 0u);
  ASSERT_FALSE(profiles.Calls().empty());
  for (const auto& call : profiles.Calls()) {
    EXPECT_EQ(call.file, kProgramFolder + L"KORVAL_Update_Service.ini");
  }
  EXPECT_TRUE(engine->ProtokollListe().empty());
  EXPECT_EQ(store.Rewrites() + store.Appends(), 0);
  EXPECT_EQ(store.Contents(L"D:\\Logs\\Protokoll.txt"), "alter Lauf\r\n");
}

TEST_F(EngineRunLogTest, BadUpdateIntervalFailsTheConstructorWithoutWritingAnything) {
  store.ForeignReplace(kDefaultLog, "alter Lauf\r\n");
  profiles.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", L"12h");
  try {
    Create();
    FAIL() << "no error raised";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'12h' ist kein gültiger Integerwert für Typ 'Integer'");
  }
  EXPECT_EQ(store.Rewrites() + store.Appends(), 0);
  EXPECT_EQ(store.Contents(kDefaultLog), "alter Lauf\r\n");
  EXPECT_EQ(profiles.FlushCount(), 1);  // the configuration made so far was freed again
}

TEST_F(EngineRunLogTest, LineIsTimeStampColonBlankAndTheText) {
  auto engine = Create();
  engine->SetzeProtokollEintrag(L"Version aktuell.");
  EXPECT_EQ(engine->ProtokollListe(),
            std::vector<std::wstring>{L"05.06.2025 12:00:05: Version aktuell."});
  EXPECT_EQ(store.Contents(kDefaultLog), "05.06.2025 12:00:05: Version aktuell.\r\n");
}

struct EntryCase {
  const char* name;
  LocalTime time;
  const wchar_t* text;
  const char* expectedFile;
};

class EngineEntryTest : public EngineRunLogTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EngineEntryTest, FileShowsTheEntry) {
  clock.Set(GetParam().time);
  auto engine = Create();
  engine->SetzeProtokollEintrag(GetParam().text);
  EXPECT_EQ(engine->ProtokollListe().size(), 1u);
  EXPECT_EQ(store.Contents(kDefaultLog), GetParam().expectedFile);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, EngineEntryTest,
    ::testing::Values(EntryCase{"MidnightCarriesTheDateAlone", MakeLocalTime(2025, 6, 5), L"Prüfe.",
                                "05.06.2025: Pr\xFC"
                                "fe.\r\n"},
                      EntryCase{"OneMillisecondAfterMidnightHasTheTime",
                                MakeLocalTime(2025, 6, 5, 0, 0, 0, 1), L"Prüfe.",
                                "05.06.2025 00:00:00: Pr\xFC"
                                "fe.\r\n"},
                      EntryCase{"EmptyTextEndsTheLineInABlank", MakeLocalTime(2025, 6, 5, 12, 0, 5),
                                L"", "05.06.2025 12:00:05: \r\n"},
                      EntryCase{"CrLfInsideShowsAsALineWithoutTimeStamp",
                                MakeLocalTime(2025, 6, 5, 12, 0, 5), L"Fehler:\r\nDetails",
                                "05.06.2025 12:00:05: Fehler:\r\nDetails\r\n"},
                      EntryCase{"UmlautIsOneByteUnderCodePage1252",
                                MakeLocalTime(2025, 6, 5, 12, 0, 5), L"Prüfe auf neue Version.",
                                "05.06.2025 12:00:05: Pr\xFC"
                                "fe auf neue Version.\r\n"}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return info.param.name; });

TEST_F(EngineRunLogTest, FirstEntryReplacesTheFileOfAnEarlierRun) {
  store.ForeignReplace(kDefaultLog, "01.06.2025 12:00:00: Service gestartet.\r\nalt\r\nalt\r\n");
  auto engine = Create();
  engine->SetzeProtokollEintrag(L"Service gestartet.");
  EXPECT_EQ(store.Contents(kDefaultLog), "05.06.2025 12:00:05: Service gestartet.\r\n");
}

TEST_F(EngineRunLogTest, EachEntryCarriesItsOwnTimeAndTheFileHoldsAllSinceStart) {
  auto engine = Create();
  engine->SetzeProtokollEintrag(L"Service gestartet.");
  clock.Set(MakeLocalTime(2025, 6, 6, 0, 0, 0, 0));
  engine->SetzeProtokollEintrag(L"Prüfe auf neue Version.");
  clock.Set(MakeLocalTime(2025, 6, 6, 0, 0, 1, 0));
  engine->SetzeProtokollEintrag(L"Version aktuell.");
  EXPECT_EQ(store.Contents(kDefaultLog),
            "05.06.2025 12:00:05: Service gestartet.\r\n"
            "06.06.2025: Pr\xFC"
            "fe auf neue Version.\r\n"
            "06.06.2025 00:00:01: Version aktuell.\r\n");
}

TEST_F(EngineRunLogTest, CodePage65001FileStartsWithByteOrderMark) {
  codec.SetAnsiCodePage(65001);
  auto engine = Create();
  engine->SetzeProtokollEintrag(L"Prüfe auf neue Version.");
  engine->SetzeProtokollEintrag(L"Version aktuell.");
  EXPECT_EQ(store.Contents(kDefaultLog),
            "\xEF\xBB\xBF"
            "05.06.2025 12:00:05: Pr\xC3\xBC"
            "fe auf neue Version.\r\n"
            "05.06.2025 12:00:05: Version aktuell.\r\n");
}

TEST_F(EngineRunLogTest, MissingFolderIsSilentAndTheNextWorkingEntryWritesAllLines) {
  profiles.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"D:\\fehlt");
  const std::wstring log = L"D:\\fehlt\\Protokoll.txt";
  store.BlockOpens(log);
  auto engine = Create();
  EXPECT_NO_THROW(engine->SetzeProtokollEintrag(L"Service gestartet."));
  EXPECT_NO_THROW(engine->SetzeProtokollEintrag(L"Prüfe auf neue Version."));
  EXPECT_FALSE(store.Exists(log));
  EXPECT_EQ(engine->ProtokollListe().size(), 2u);
  store.AllowOpens(log);
  engine->SetzeProtokollEintrag(L"Version aktuell.");
  EXPECT_EQ(store.Contents(log),
            "05.06.2025 12:00:05: Service gestartet.\r\n"
            "05.06.2025 12:00:05: Pr\xFC"
            "fe auf neue Version.\r\n"
            "05.06.2025 12:00:05: Version aktuell.\r\n");
}

// A store that fails with something other than the system's own error class.
class BrokenStore : public LogFileStore {
 public:
  FileIdentity Rewrite(const std::wstring&, const std::string&) override {
    throw std::runtime_error("kaputt");
  }
  std::optional<FileIdentity> AppendIfUnchanged(const std::wstring&, const FileIdentity&,
                                                const std::string&) override {
    throw std::runtime_error("kaputt");
  }
  bool MoveIfPresent(const std::wstring&, const std::wstring&) override {
    throw std::runtime_error("kaputt");
  }
};

TEST_F(EngineRunLogTest, EveryKindOfWriteErrorIsDropped) {
  BrokenStore broken;
  platform.logFiles = &broken;
  auto engine = Create();
  EXPECT_NO_THROW(engine->SetzeProtokollEintrag(L"Service gestartet."));
  EXPECT_NO_THROW(engine->SpeichereProtokoll());
  EXPECT_EQ(engine->ProtokollListe().size(), 1u);
}

TEST_F(EngineRunLogTest, DestructionWritesNothing) {
  auto engine = Create();
  engine->SetzeProtokollEintrag(L"Service gestartet.");
  std::string before = store.Contents(kDefaultLog);
  int writes = store.Rewrites() + store.Appends();
  engine.reset();
  EXPECT_EQ(store.Rewrites() + store.Appends(), writes);
  EXPECT_EQ(store.Contents(kDefaultLog), before);
}

// While the swaps run, the lines wait in memory and reach the file in one write afterwards; the
// console still sees each line as it is made.
TEST(RunLogTest, HeldLinesReachTheFileTogetherWhenWritingResumes) {
  MemoryLogFileStore store;
  FakeTextCodec codec{1252};
  FakeClock clock;
  EnginePlatform platform;
  platform.clock = &clock;
  platform.codec = &codec;
  platform.logFiles = &store;
  std::vector<std::wstring> echoed;
  platform.protokollEcho = [&echoed](const std::wstring& line) { echoed.push_back(line); };
  RunLog log(platform, [] { return kPath; }, 0);
  log.Log(L"eins");
  {
    HeldRunLogWrites held(log);
    log.Log(L"zwei");
    log.Log(L"Fehler drei");
    EXPECT_EQ(store.Appends() + store.Rewrites(), 1);
    EXPECT_EQ(echoed.size(), 3u);
    EXPECT_TRUE(log.FailedInCycle());
  }
  EXPECT_EQ(store.Appends() + store.Rewrites(), 2);
  EXPECT_EQ(store.Contents(kPath), FullRewrite(log.Lines(), 1252));
  log.BeginCycle();
  EXPECT_FALSE(log.FailedInCycle());
}
}  // namespace
