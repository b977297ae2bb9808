#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "Models/DLLSynchronisierer.h"
#include "Models/RunLogFile.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "support/ExceptionMessage.h"
#include "support/TempFolder.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Clock.h"
#include "win32/Win32LogFileStore.h"
#include "win32/Win32ProfileReader.h"
#include "win32/Win32TextCodec.h"

namespace {

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Another opener that holds the file without sharing, as a second process would.
class ForeignHandle {
 public:
  explicit ForeignHandle(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  bool IsOpen() const { return handle_.IsValid(); }
  void Close() { handle_.Reset(); }

 private:
  UniqueFile handle_;
};

// --- Win32LogFileStore -------------------------------------------------------------------------

class LogFileStoreWin32Test : public ::testing::Test {
 protected:
  TempFolder folder{L"korval_runlog_"};
  std::wstring path = folder.Path() + L"Protokoll.txt";
  Win32LogFileStore store;
};

TEST_F(LogFileStoreWin32Test, RewriteCreatesOrCutsTheFile) {
  FileIdentity first = store.Rewrite(path, "eins\r\nzwei\r\n");
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\n");
  EXPECT_EQ(first.size, 12u);
  FileIdentity second = store.Rewrite(path, "drei\r\n");
  EXPECT_EQ(ReadBytes(path), "drei\r\n");
  EXPECT_EQ(second.size, 6u);
  EXPECT_EQ(second.volume, first.volume);
  EXPECT_EQ(second.index, first.index);
}

TEST_F(LogFileStoreWin32Test, AFileWithAnotherHardLinkIsNeverWritten) {
  const std::wstring elsewhere = folder.Path() + L"wichtig.dat";
  WriteBytes(elsewhere, "do not touch");
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), elsewhere.c_str(), nullptr));
  EXPECT_THROW(store.Rewrite(path, "eins\r\n"), LinkedFileRefused);
  EXPECT_EQ(ReadBytes(elsewhere), "do not touch");
}

TEST_F(LogFileStoreWin32Test, AppendsWhenTheFileIsStillWhatWeLeft) {
  FileIdentity written = store.Rewrite(path, "eins\r\n");
  std::optional<FileIdentity> appended = store.AppendIfUnchanged(path, written, "zwei\r\n");
  ASSERT_TRUE(appended.has_value());
  EXPECT_EQ(appended->size, 12u);
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\n");
  ASSERT_TRUE(store.AppendIfUnchanged(path, *appended, "drei\r\n").has_value());
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\ndrei\r\n");
}

FileIdentity IdentityOfClosedFile(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  if (h != INVALID_HANDLE_VALUE) {
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                      (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                      (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                          info.ftLastWriteTime.dwLowDateTime};
}

TEST_F(LogFileStoreWin32Test, IdentityReadAtTheWriteMatchesTheClosedFile) {
  FileIdentity written = store.Rewrite(path, "eins\r\n");
  EXPECT_EQ(written, IdentityOfClosedFile(path));
  EXPECT_NE(written.lastWrite, 0u);
  std::optional<FileIdentity> appended = store.AppendIfUnchanged(path, written, "zwei\r\n");
  ASSERT_TRUE(appended.has_value());
  EXPECT_EQ(*appended, IdentityOfClosedFile(path));
}

TEST_F(LogFileStoreWin32Test, ChangedFileIsNotAppendedTo) {
  FileIdentity written = store.Rewrite(path, "eins\r\n");
  Sleep(20);
  WriteBytes(path, "EINS\r\n");
  EXPECT_FALSE(store.AppendIfUnchanged(path, written, "zwei\r\n").has_value());
  EXPECT_EQ(ReadBytes(path), "EINS\r\n");
  WriteBytes(path, "anders\r\n");
  EXPECT_FALSE(store.AppendIfUnchanged(path, written, "zwei\r\n").has_value());
  EXPECT_EQ(ReadBytes(path), "anders\r\n");
}

TEST_F(LogFileStoreWin32Test, DeletedFileIsNotAppendedToNorCreated) {
  FileIdentity written = store.Rewrite(path, "eins\r\n");
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(store.AppendIfUnchanged(path, written, "zwei\r\n").has_value());
  EXPECT_FALSE(Exists(path));
}

TEST_F(LogFileStoreWin32Test, MissingFolderRaisesTheSystemError) {
  std::wstring missing = folder.Path() + L"fehlt\\Protokoll.txt";
  std::wstring message = MessageOf([&] { store.Rewrite(missing, "eins\r\n"); });
  EXPECT_EQ(message.rfind(L"Systemfehler.  Code: 3.", 0), 0u)
      << std::string(message.begin(), message.end());
  EXPECT_FALSE(store.AppendIfUnchanged(missing, FileIdentity{}, "x").has_value());
}

TEST_F(LogFileStoreWin32Test, FileHeldOpenWithoutSharingCannotBeWritten) {
  FileIdentity written = store.Rewrite(path, "eins\r\n");
  ForeignHandle other(path);
  ASSERT_TRUE(other.IsOpen());
  std::wstring message = MessageOf([&] { store.Rewrite(path, "zwei\r\n"); });
  EXPECT_EQ(message.rfind(L"Systemfehler.  Code: 32.", 0), 0u);
  EXPECT_THROW(store.AppendIfUnchanged(path, written, "zwei\r\n"), Exception);
  other.Close();
  EXPECT_EQ(ReadBytes(path), "eins\r\n");
}

// --- RunLogFile on real files -----------------------------------------------------------------

class RunLogFileWin32Test : public LogFileStoreWin32Test {
 protected:
  void Add(const std::wstring& line) {
    lines.push_back(line);
    log.Save(store, codec, path, lines);
  }
  Win32TextCodec codec;
  RunLogFile log;
  std::vector<std::wstring> lines;
};

TEST_F(RunLogFileWin32Test, FileHeldOpenElsewhereSkipsTheEntryAndTheNextWritesAll) {
  Add(L"eins");
  {
    ForeignHandle other(path);
    ASSERT_TRUE(other.IsOpen());
    EXPECT_THROW(Add(L"zwei"), Exception);
  }
  EXPECT_EQ(ReadBytes(path), "eins\r\n");
  Add(L"drei");
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\ndrei\r\n");
}

TEST_F(RunLogFileWin32Test, DeletedAndForeignChangedFilesAreRewrittenWhole) {
  Add(L"eins");
  Add(L"zwei");
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  Add(L"drei");
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\ndrei\r\n");
  Sleep(20);
  WriteBytes(path, "fremder Inhalt gleicher Grösse\r\n");
  Add(L"vier");
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\ndrei\r\nvier\r\n");
  WriteBytes(path, ReadBytes(path) + "angehängt\r\n");
  Add(L"fünf");
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\ndrei\r\nvier\r\nf\xFCnf\r\n");
}

TEST_F(RunLogFileWin32Test, EarlierFileIsReplacedAtTheFirstEntry) {
  WriteBytes(path, "alter Lauf\r\nnoch eine Zeile\r\n");
  Add(L"Service gestartet.");
  EXPECT_EQ(ReadBytes(path), "Service gestartet.\r\n");
}

// --- Win32TextCodec ---------------------------------------------------------------------------

TEST(TextCodecWin32Test, AnsiCodePage1252WritesUmlautsAsSingleBytes) {
  Win32TextCodec codec;
  ASSERT_EQ(codec.AnsiCodePage(), 1252u);
  EXPECT_EQ(codec.ToAnsi(L"Prüfe auf neue Version."),
            "Pr\xFC"
            "fe auf neue Version.");
  EXPECT_EQ(codec.ToAnsi(L""), "");
  std::string replaced = codec.ToAnsi(L"\x3042");
  EXPECT_EQ(replaced.size(), 1u);
}

TEST(TextCodecWin32Test, DecodesCodePagesAndRejectsBrokenUtf8) {
  Win32TextCodec codec;
  EXPECT_TRUE(codec.IsValidCodePage(1252));
  EXPECT_TRUE(codec.IsValidCodePage(65001));
  EXPECT_FALSE(codec.IsValidCodePage(12345));
  EXPECT_EQ(codec.Decode(1252,
                         "Gr\xF6\xDF"
                         "e \x80"),
            L"Größe \x20AC");
  EXPECT_EQ(codec.Decode(65001,
                         "Gr\xC3\xB6\xC3\x9F"
                         "e"),
            L"Größe");
  EXPECT_EQ(codec.Decode(65001, ""), L"");
  EXPECT_THROW(codec.Decode(65001,
                            "Gr\xF6\xDF"
                            "e"),
               Exception);
}

// --- Win32Clock and the regional settings ------------------------------------------------------

TEST(ClockWin32Test, NowIsTheLocalTime) {
  Win32Clock clock;
  SYSTEMTIME before;
  GetLocalTime(&before);
  LocalTime now = clock.Now();
  EXPECT_EQ(now.year, before.wYear);
  EXPECT_EQ(now.month, before.wMonth);
  EXPECT_EQ(now.dayOfWeek, before.wDayOfWeek);
  EXPECT_GE(now.hour * 3600 + now.minute * 60 + now.second,
            before.wHour * 3600 + before.wMinute * 60 + before.wSecond);
  std::uint64_t start = clock.TickMilliseconds();
  clock.Wait(30);
  EXPECT_GE(clock.TickMilliseconds() - start, 15u);
}

TEST(ClockWin32Test, CapturedSettingsAreTheUserLocale) {
  RegionalSettings r = CaptureRegionalSettings();
  wchar_t buffer[100];
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, buffer, 100);
  EXPECT_EQ(r.shortDatePattern, buffer);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, buffer, 100);
  EXPECT_EQ(r.longTimePattern, buffer);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDAYNAME7, buffer, 100);
  EXPECT_EQ(r.dayNames[0], buffer);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVDAYNAME1, buffer, 100);
  EXPECT_EQ(r.abbreviatedDayNames[1], buffer);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SMONTHNAME12, buffer, 100);
  EXPECT_EQ(r.monthNames[11], buffer);
}

SYSTEMTIME ToSystemTime(const LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wDayOfWeek = static_cast<WORD>(t.dayOfWeek);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  return st;
}

LocalTime At(int year, int month, int day, int dayOfWeek, int hour, int minute, int second) {
  LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.dayOfWeek = dayOfWeek;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

// Our pattern engine against the platform's own GetDateFormatW/GetTimeFormatW. A lone "y" is
// left out: Wine pads it to two digits, Windows does not, and no locale's pattern uses it.
TEST(ClockWin32Test, PatternsFormatLikeThePlatform) {
  RegionalSettings r = CaptureRegionalSettings();
  const LocalTime times[] = {At(2025, 6, 5, 4, 12, 0, 5), At(2005, 1, 9, 0, 0, 30, 0),
                             At(2024, 12, 31, 2, 23, 59, 59), At(2025, 3, 1, 6, 9, 5, 7)};
  const wchar_t* datePatterns[] = {L"d.M.yyyy",  L"dd.MM.yy", L"ddd, MMM d yyyy",
                                   L"dddd MMMM", L"'Tag' d",  L"d'.'M'' yyyyy"};
  const wchar_t* timePatterns[] = {
      L"HH:mm:ss",      L"h:mm:ss tt", L"hh 'Uhr' m", L"H t", L"HH''mm 'o''clock' ''''",
      L"hhh:mmm:sss 'x"};
  wchar_t buffer[200];
  for (const LocalTime& t : times) {
    SYSTEMTIME st = ToSystemTime(t);
    for (const wchar_t* p : datePatterns) {
      ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, p, buffer, 200), 0);
      EXPECT_EQ(FormatDateTime(p, t, r), buffer);
    }
    for (const wchar_t* p : timePatterns) {
      ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, p, buffer, 200), 0);
      EXPECT_EQ(FormatDateTime(p, t, r), buffer);
    }
    std::wstring expected;
    ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, 200), 0);
    expected = buffer;
    ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 200), 0);
    expected += L" " + std::wstring(buffer);
    EXPECT_EQ(FormatTimeStamp(t, r), expected);
  }
}

// --- The engine with the real platform --------------------------------------------------------

class EngineWin32Test : public ::testing::Test {
 protected:
  EngineWin32Test() {
    platform.programFolder = folder.Path();
    platform.regional = CaptureRegionalSettings();
    platform.profiles = &profiles;
    platform.clock = &clock;
    platform.codec = &codec;
    platform.logFiles = &store;
  }
  void WriteIni(const std::string& text) {
    WriteBytes(folder.Path() + L"KORVAL_Update_Service.ini", text);
  }
  // Today's date in the user's short date format, the start of every line made today.
  static std::string Today() {
    char buffer[100];
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer, 100);
    return buffer;
  }
  // Checks that the file holds exactly the texts, each after a time stamp of today and ": ".
  void ExpectLines(const std::wstring& path, const std::vector<std::string>& texts) {
    std::string bytes = ReadBytes(path);
    for (const std::string& text : texts) {
      std::size_t end = bytes.find("\r\n");
      ASSERT_NE(end, std::string::npos) << bytes;
      std::string line = bytes.substr(0, end);
      EXPECT_EQ(line.rfind(Today() + " ", 0), 0u) << line;
      ASSERT_GE(line.size(), text.size() + 2) << line;
      EXPECT_EQ(line.substr(line.size() - text.size() - 2), ": " + text);
      bytes.erase(0, end + 2);
    }
    EXPECT_EQ(bytes, "");
  }

  TempFolder folder{L"korval_runlog_"};
  Win32ProfileReader profiles;
  Win32Clock clock;
  Win32TextCodec codec;
  Win32LogFileStore store;
  EnginePlatform platform;
};

TEST_F(EngineWin32Test, MissingLogFolderIsSilentUntilItExists) {
  std::wstring logFolder = folder.Path() + L"logs";
  std::string narrowFolder(logFolder.begin(), logFolder.end());
  WriteIni("[VERZEICHNISSE]\r\nPROTOKOLLPFAD=" + narrowFolder + "\r\n");
  TDLLSynchronisierer engine(platform);
  std::wstring log = logFolder + L"\\Protokoll.txt";
  ASSERT_EQ(engine.DLLKonfiguration().Protokollpfad(), log);
  EXPECT_NO_THROW(engine.SetzeProtokollEintrag(L"Service gestartet."));
  EXPECT_FALSE(Exists(log));
  ASSERT_TRUE(CreateDirectoryW(logFolder.c_str(), nullptr));
  engine.SetzeProtokollEintrag(L"Prüfe auf neue Version.");
  ExpectLines(log, {"Service gestartet.",
                    "Pr\xFC"
                    "fe auf neue Version."});
}

TEST_F(EngineWin32Test, DefaultLogBesideTheProgramReplacesAnEarlierRunAtTheFirstEntry) {
  WriteIni("[ENTWICKLUNG]\r\nTestmodus=1\r\n");
  std::wstring log = folder.Path() + L"Protokoll.txt";
  WriteBytes(log, "alter Lauf\r\n");
  TDLLSynchronisierer engine(platform);
  EXPECT_TRUE(engine.DLLKonfiguration().TestModus());
  EXPECT_EQ(ReadBytes(log), "alter Lauf\r\n");
  engine.SetzeProtokollEintrag(L"Service gestartet (Testmodus).");
  ExpectLines(log, {"Service gestartet (Testmodus)."});
  engine.SetzeProtokollEintrag(L"Prüfe auf neue Version.");
  ExpectLines(log, {"Service gestartet (Testmodus).",
                    "Pr\xFC"
                    "fe auf neue Version."});
}

TEST_F(EngineWin32Test, BadUpdateIntervalFailsTheStartAndWritesNoFile) {
  WriteIni("[VERZEICHNISSE]\r\nUPDATEINTERVALL=12h\r\n");
  EXPECT_THROW(TDLLSynchronisierer engine(platform), EConvertError);
  EXPECT_FALSE(Exists(folder.Path() + L"Protokoll.txt"));
}

TEST_F(EngineWin32Test, LogHeldOpenElsewhereSkipsTheWriteAndTheNextEntryWritesAll) {
  WriteIni("");
  std::wstring log = folder.Path() + L"Protokoll.txt";
  TDLLSynchronisierer engine(platform);
  engine.SetzeProtokollEintrag(L"Service gestartet.");
  {
    ForeignHandle other(log);
    ASSERT_TRUE(other.IsOpen());
    EXPECT_NO_THROW(engine.SetzeProtokollEintrag(L"Prüfe auf neue Version."));
  }
  ExpectLines(log, {"Service gestartet."});
  engine.SetzeProtokollEintrag(L"Version aktuell.");
  ExpectLines(log, {"Service gestartet.",
                    "Pr\xFC"
                    "fe auf neue Version.",
                    "Version aktuell."});
}

}  // namespace
