// The real profile reader and the program folder under the platform.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/TempFolder.h"
#include "win32/ProgramFolder.h"
#include "win32/Win32ProfileReader.h"

namespace {

class Win32ProfileReaderTest : public testing::Test {
 protected:
  void WriteFileBytes(const std::string& bytes) { folder_.Write(L"reader.ini", bytes); }

  TempFolder folder_{L"korval_reader_"};
  const std::wstring file_ = folder_.Path() + L"reader.ini";
  Win32ProfileReader reader_;
};

TEST_F(Win32ProfileReaderTest, ExistenceTestFindsKeysBeyondTheFirstBuffer) {
  // 400 keys of 20 characters: the key list is far longer than 2,048 characters.
  std::string text = "[S]\r\n";
  for (int i = 0; i < 400; ++i) text += "SCHLUESSEL_" + std::to_string(100000000 + i) + "=x\r\n";
  text += "DLLPFAD30=C:\\z\r\n";
  WriteFileBytes(text);
  EXPECT_TRUE(reader_.ValueExists(file_, L"S", L"SCHLUESSEL_100000000"));
  EXPECT_TRUE(reader_.ValueExists(file_, L"S", L"dllpfad30"));
  EXPECT_FALSE(reader_.ValueExists(file_, L"S", L"DLLPFAD3"));
}

struct ExistsCase {
  const char* key;
  bool expected;
};

class ValueExistsTest : public Win32ProfileReaderTest,
                        public testing::WithParamInterface<ExistsCase> {};

TEST_P(ValueExistsTest, ComparesWholeNamesWithoutRegardToCase) {
  // UTF-16LE with a byte-order mark, so that the umlaut key is read as written.
  const std::wstring text =
      L"\xFEFF[VERZEICHNISSE]\r\nDLLPFAD1=\r\nDllPfad2=C:\\b\r\n\x00C4NDERUNG=1\r\n";
  WriteFileBytes(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  std::wstring key;
  for (const char* p = GetParam().key; *p; ++p) key += static_cast<unsigned char>(*p);
  EXPECT_EQ(reader_.ValueExists(file_, L"verzeichnisse", key), GetParam().expected);
}

void PrintTo(const ExistsCase& c, std::ostream* os) { *os << c.key; }

INSTANTIATE_TEST_SUITE_P(Table, ValueExistsTest,
                         testing::Values(ExistsCase{"DLLPFAD1", true}, ExistsCase{"dllpfad1", true},
                                         ExistsCase{"DLLPFAD2", true}, ExistsCase{"DLLPFAD", false},
                                         ExistsCase{"DLLPFAD10", false},
                                         ExistsCase{"DLLPFAD01", false},
                                         ExistsCase{"\xE4nderung", true},
                                         ExistsCase{"ANDERUNG", false}));

TEST_F(Win32ProfileReaderTest, MissingFileOrSectionHasNoKeysAndGivesTheDefault) {
  EXPECT_FALSE(reader_.ValueExists(file_, L"VERZEICHNISSE", L"DLLPFAD1"));
  EXPECT_EQ(reader_.ReadString(file_, L"VERZEICHNISSE", L"DLLPFAD1", L"vorgabe"), L"vorgabe");
  WriteFileBytes("[ANDERES]\r\nDLLPFAD1=x\r\n");
  EXPECT_FALSE(reader_.ValueExists(file_, L"VERZEICHNISSE", L"DLLPFAD1"));
  EXPECT_EQ(reader_.ReadString(file_, L"VERZEICHNISSE", L"DLLPFAD1", L"vorgabe"), L"vorgabe");
}

TEST_F(Win32ProfileReaderTest, LongValuesAreCutTo2047Characters) {
  WriteFileBytes("[S]\r\nK=" + std::string(3000, 'a') + "\r\n");
  EXPECT_EQ(reader_.ReadString(file_, L"S", L"K", L""), std::wstring(2047, L'a'));
}

TEST_F(Win32ProfileReaderTest, FlushCreatesNoFile) {
  reader_.Flush(file_);
  EXPECT_EQ(GetFileAttributesW(file_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ProgramFolderTest, IsTheFolderOfTheRunningExeWithABackslash) {
  const std::wstring folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'\\');
  EXPECT_NE(GetFileAttributesW((folder + L"win32_tests.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

struct PathCase {
  std::wstring path;
  std::wstring folder;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << testing::PrintToString(c.path); }

class FolderOfPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(FolderOfPathTest, CutsAfterTheLastBackslashOrColon) {
  EXPECT_EQ(FolderOfPath(GetParam().path), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(Table, FolderOfPathTest,
                         testing::Values(PathCase{L"C:\\Dienste\\KORVAL\\x.exe",
                                                  L"C:\\Dienste\\KORVAL\\"},
                                         PathCase{L"C:x.exe", L"C:"},
                                         PathCase{L"\\\\srv\\share\\x.exe", L"\\\\srv\\share\\"},
                                         PathCase{L"x.exe", L""}, PathCase{L"", L""}));

}  // namespace
