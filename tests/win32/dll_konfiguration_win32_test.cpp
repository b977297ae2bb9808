// The configuration over the real profile reader, against INI files written into a temp folder.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Models/DLLKonfiguration.h"
#include "core/Exception.h"
#include "support/TempFolder.h"
#include "win32/ProgramFolder.h"
#include "win32/Win32ProfileReader.h"

namespace {

const std::wstring kDll = L"KorvalAppServer.dll";

std::string ReadBytes(const std::wstring& file) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(h, nullptr), '\0');
  DWORD read = 0;
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(h);
  return bytes;
}

class DLLKonfigurationWin32Test : public testing::Test {
 protected:
  std::unique_ptr<TDLLKonfiguration> Create(const std::wstring& ini) {
    return std::make_unique<TDLLKonfiguration>(ini, reader_, folder_.Path(), L',');
  }
  std::unique_ptr<TDLLKonfiguration> Load(const std::string& iniText) {
    auto config = Create(folder_.Write(L"KORVAL_Update_Service.ini", iniText));
    config->LadeFelder();
    return config;
  }

  TempFolder folder_{L"korval_config_"};
  Win32ProfileReader reader_;
};

TEST_F(DLLKonfigurationWin32Test, NoFileGivesEveryDefault) {
  const std::wstring ini = folder_.Path() + L"KORVAL_Update_Service.ini";
  auto config = Create(ini);
  config->LadeFelder();
  EXPECT_EQ(config->IISSiteName(), L"Default Web Site");
  EXPECT_EQ(config->Downloadpfad(), folder_.Path() + L"Download\\");
  EXPECT_EQ(config->DLLDownloadpfad(), folder_.Path() + L"Download\\" + kDll);
  EXPECT_EQ(config->Protokollpfad(), folder_.Path() + L"Protokoll.txt");
  EXPECT_EQ(config->UpdateIntervall(), 43200000);
  EXPECT_TRUE(config->DLLPfadeListe().empty());
  EXPECT_FALSE(config->TestModus());
  EXPECT_EQ(config->URLVersionsNr(), L"https://update.korval.de/KORVALAppDLLVersion.txt");
  EXPECT_EQ(config->URLKorvalAppServerDLL(), L"https://update.korval.de/KorvalAppServer.dll");
  config.reset();
  EXPECT_EQ(GetFileAttributesW(ini.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DLLKonfigurationWin32Test, SectionsAndKeysMatchInAnyLetterCase) {
  auto config = Load(
      "[verzeichnisse]\r\niisSiteName=Klein\r\nupdateintervall=24\r\ndllpfad2=C:\\zwei\r\n"
      "[Entwicklung]\r\ntestmodus=TRUE\r\n[urls]\r\nversionsnr=http://127.0.0.1/v.txt\r\n"
      "KORVALAPPSERVERDLL=http://127.0.0.1/d.dll\r\n");
  EXPECT_EQ(config->IISSiteName(), L"Klein");
  EXPECT_EQ(config->UpdateIntervall(), 86400000);
  EXPECT_EQ(config->DLLPfadeListe(), std::vector<std::wstring>{L"C:\\zwei\\" + kDll});
  EXPECT_TRUE(config->TestModus());
  EXPECT_EQ(config->URLVersionsNr(), L"http://127.0.0.1/v.txt");
  EXPECT_EQ(config->URLKorvalAppServerDLL(), L"http://127.0.0.1/d.dll");
}

TEST_F(DLLKonfigurationWin32Test, PresentButEmptyFoldersAreNotTheDefault) {
  auto config = Load("[VERZEICHNISSE]\r\nDOWNLOADPFAD=\r\nPROTOKOLLPFAD=\r\n");
  EXPECT_EQ(config->Downloadpfad(), L"\\Download\\");
  EXPECT_EQ(config->DLLDownloadpfad(), L"\\Download\\" + kDll);
  EXPECT_EQ(config->Protokollpfad(), L"\\Protokoll.txt");
}

TEST_F(DLLKonfigurationWin32Test, EmptyIntervalFailsButAMissingOneIsTwelveHours) {
  auto config = Create(folder_.Write(L"a.ini", "[VERZEICHNISSE]\r\nUPDATEINTERVALL=\r\n"));
  try {
    config->LadeFelder();
    ADD_FAILURE() << "loaded";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'' ist kein gültiger Integerwert für Typ 'Integer'");
  }
  EXPECT_EQ(Load("[VERZEICHNISSE]\r\nIISSITENAME=x\r\n")->UpdateIntervall(), 43200000);
}

TEST_F(DLLKonfigurationWin32Test, QuotesAndBlanksAroundValuesAreDropped) {
  auto config = Load(
      "[VERZEICHNISSE]\r\nIISSITENAME = \"KORVAL Site\"  \r\nDLLPFAD1='C:\\eins'\r\n"
      "UPDATEINTERVALL =  \"24\"\t\r\n[ENTWICKLUNG]\r\nTestmodus=\" 1 \"\r\n");
  EXPECT_EQ(config->IISSiteName(), L"KORVAL Site");
  EXPECT_EQ(config->DLLPfadeListe(), std::vector<std::wstring>{L"C:\\eins\\" + kDll});
  EXPECT_EQ(config->UpdateIntervall(), 86400000);
  EXPECT_TRUE(config->TestModus());
}

TEST_F(DLLKonfigurationWin32Test, BadIntervalIsReportedBeforeABadTestModus) {
  auto config = Create(folder_.Write(L"a.ini",
                                     "[VERZEICHNISSE]\r\nUPDATEINTERVALL=12h\r\nDLLPFAD1=C:\\a\r\n["
                                     "ENTWICKLUNG]\r\nTestmodus=ja\r\n"
                                     "[URLS]\r\nVersionsNr=http://127.0.0.1/v.txt\r\n"));
  try {
    config->LadeFelder();
    ADD_FAILURE() << "loaded";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'12h' ist kein gültiger Integerwert für Typ 'Integer'");
  }
  EXPECT_TRUE(config->DLLPfadeListe().empty());
  EXPECT_FALSE(config->TestModus());
  EXPECT_EQ(config->URLVersionsNr(), L"");
}

TEST_F(DLLKonfigurationWin32Test, BadTestModusQuotesTheValueAsRead) {
  auto config = Create(folder_.Write(L"a.ini", "[ENTWICKLUNG]\r\nTestmodus = yes \r\n"));
  try {
    config->LadeFelder();
    ADD_FAILURE() << "loaded";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'yes' ist kein gültiger boolescher Wert");
  }
  EXPECT_EQ(config->DLLPfadeListe().size(), 0u);
}

struct ListCase {
  const char* name;
  std::string section;
  std::vector<std::wstring> expected;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class DLLPfadeListeWin32Test : public DLLKonfigurationWin32Test,
                               public testing::WithParamInterface<ListCase> {};

TEST_P(DLLPfadeListeWin32Test, HoldsTheTargetsInKeyOrder) {
  EXPECT_EQ(Load("[VERZEICHNISSE]\r\n" + GetParam().section)->DLLPfadeListe(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DLLPfadeListeWin32Test,
    testing::Values(ListCase{"OnlyThreeAndSeven",
                             "DLLPFAD7=C:\\sieben\r\nDLLPFAD3=C:\\drei\\\r\n",
                             {L"C:\\drei\\" + kDll, L"C:\\sieben\\" + kDll}},
                    ListCase{"ZeroThirtyOneAndLeadingZeroIgnored",
                             "DLLPFAD0=C:\\a\r\nDLLPFAD31=C:\\b\r\nDLLPFAD01=C:\\c\r\n",
                             {}},
                    ListCase{"EmptyFirstKeySkipped",
                             "DLLPFAD1=\r\nDLLPFAD2=C:\\b\r\nDLLPFAD30=C:\\z\r\n",
                             {L"C:\\b\\" + kDll, L"C:\\z\\" + kDll}},
                    ListCase{"DuplicatesKept",
                             "DLLPFAD1=C:\\inetpub\\app\r\nDLLPFAD2=C:\\inetpub\\app\\\r\n",
                             {L"C:\\inetpub\\app\\" + kDll, L"C:\\inetpub\\app\\" + kDll}},
                    ListCase{"SlashGetsABackslash",
                             "DLLPFAD1=C:/inetpub/app/\r\n",
                             {L"C:/inetpub/app/\\" + kDll}},
                    ListCase{"KeyInAnotherSectionIgnored", "[ANDERES]\r\nDLLPFAD1=C:\\a\r\n", {}}),
    [](const testing::TestParamInfo<ListCase>& info) { return info.param.name; });

TEST_F(DLLKonfigurationWin32Test, LeavesTheFileUnchangedByteForByteAndInTime) {
  const std::string text =
      "; Kommentar\r\n[VERZEICHNISSE]\r\nIISSITENAME=Site\r\nDLLPFAD1=C:\\a\r\n"
      "[ENTWICKLUNG]\r\nTestmodus=0\r\n";
  const std::wstring ini = folder_.Write(L"KORVAL_Update_Service.ini", text);
  FILETIME old{};
  old.dwHighDateTime = 0x01C00000;  // a day in 2001: any write would set a later time
  HANDLE h = CreateFileW(ini.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(SetFileTime(h, &old, nullptr, &old));
  CloseHandle(h);

  for (int run = 0; run < 3; ++run) Create(ini)->LadeFelder();

  EXPECT_EQ(ReadBytes(ini), text);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(ini.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, old.dwHighDateTime);
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, old.dwLowDateTime);
  EXPECT_EQ(data.ftCreationTime.dwHighDateTime, old.dwHighDateTime);
}

}  // namespace
