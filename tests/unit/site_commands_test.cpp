#include <gtest/gtest.h>

#include "core/PortableExecutable.h"
#include "core/SiteCommands.h"

TEST(SiteCommandsTest, CommandsQuoteTheSiteName) {
  EXPECT_EQ(SiteStopCommand(L"Default Web Site"),
            L"/c inetsrv\\appcmd stop site \"Default Web Site\"");
  EXPECT_EQ(SiteStartCommand(L"Default Web Site"),
            L"/c inetsrv\\appcmd start site \"Default Web Site\"");
  EXPECT_EQ(SiteStopCommand(L""), L"/c inetsrv\\appcmd stop site \"\"");
  EXPECT_EQ(SiteStartCommand(L"Kunden-Portal (ü)"),
            L"/c inetsrv\\appcmd start site \"Kunden-Portal (ü)\"");
  EXPECT_EQ(AppPoolStopCommand(L"KORVAL Pool"),
            L"/c inetsrv\\appcmd stop apppool /apppool.name:\"KORVAL Pool\"");
  EXPECT_EQ(AppPoolStartCommand(L"KORVAL Pool"),
            L"/c inetsrv\\appcmd start apppool /apppool.name:\"KORVAL Pool\"");
}

TEST(SiteCommandsTest, NamesThatCouldEscapeTheirQuotesAreRefused) {
  struct Case {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"Default Web Site", true},
      {L"Shop & Co", true},
      {L"Seite (2)", true},
      {L"", true},
      {L"a\"b", false},
      {L"\" & del c:\\x & \"", false},
      {L"%PATH%", false},
      {L"a\tb", false},
      {L"a\r\nb", false},
      {L"a\x7f", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeSiteName(c.name), c.safe) << c.name;
}

namespace {
// A minimal PE head: MZ, e_lfanew, "PE\0\0", COFF header with the given characteristics.
std::string PeHead(std::uint16_t characteristics, std::uint32_t peOffset = 0x80) {
  std::string head(peOffset + 24, '\0');
  head[0] = 'M';
  head[1] = 'Z';
  for (int i = 0; i < 4; ++i) head[0x3C + i] = static_cast<char>((peOffset >> (8 * i)) & 0xFF);
  head.replace(peOffset, 4, std::string("PE\0\0", 4));
  head[peOffset + 22] = static_cast<char>(characteristics & 0xFF);
  head[peOffset + 23] = static_cast<char>(characteristics >> 8);
  return head;
}
}  // namespace

TEST(PortableExecutableTest, RecognisesOnlyDllImages) {
  EXPECT_TRUE(IsDllImage(PeHead(0x2102)));
  EXPECT_FALSE(IsDllImage(PeHead(0x0102))) << "an exe is no DLL";
  EXPECT_FALSE(IsDllImage("<html><body>404 Not Found</body></html>"));
  EXPECT_FALSE(IsDllImage(""));
  EXPECT_FALSE(IsDllImage("MZ"));
  std::string truncated = PeHead(0x2102);
  truncated.resize(truncated.size() - 1);
  EXPECT_FALSE(IsDllImage(truncated)) << "header cut off";
  std::string farAway = PeHead(0x2102);
  farAway[0x3C] = '\xF0';
  farAway[0x3D] = '\xFF';
  farAway[0x3E] = '\xFF';
  farAway[0x3F] = '\xFF';
  EXPECT_FALSE(IsDllImage(farAway)) << "PE offset outside the head";
  std::string wrongSignature = PeHead(0x2102);
  wrongSignature[0x80 + 1] = 'X';
  EXPECT_FALSE(IsDllImage(wrongSignature));
}
