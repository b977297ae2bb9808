#include "core/Charsets.h"

#include <gtest/gtest.h>

namespace {

struct CharsetCase {
  const wchar_t* name;
  unsigned codePage;  // 0: not recognised
};

class CodePageForCharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(CodePageForCharsetTest, MapsTheName) {
  std::optional<unsigned> codePage = CodePageForCharset(GetParam().name);
  EXPECT_EQ(codePage.value_or(0), GetParam().codePage)
      << testing::PrintToString(std::wstring(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(
    Names, CodePageForCharsetTest,
    ::testing::Values(CharsetCase{L"utf-8", 65001}, CharsetCase{L"UTF-8", 65001},
                      CharsetCase{L"iso-8859-1", 28591}, CharsetCase{L"ISO-8859-15", 28605},
                      CharsetCase{L"Windows-1252", 1252}, CharsetCase{L"windows-1250", 1250},
                      CharsetCase{L"us-ascii", 20127}, CharsetCase{L"utf-16", 1200},
                      CharsetCase{L"UTF-16BE", 1201}, CharsetCase{L"koi8-r", 20866},
                      CharsetCase{L"Shift_JIS", 932}, CharsetCase{L"gb2312", 936},
                      CharsetCase{L"big5", 950}, CharsetCase{L"euc-jp", 20932},
                      CharsetCase{L"cp1252", 1252}, CharsetCase{L"CP850", 850},
                      CharsetCase{L"cp65001", 65001}, CharsetCase{L"cp00437", 437},
                      CharsetCase{L"cp", 0}, CharsetCase{L"cp0", 0}, CharsetCase{L"cp65536", 0},
                      CharsetCase{L"cp12a", 0}, CharsetCase{L"cp-1", 0},
                      CharsetCase{L"cp1234567", 0}, CharsetCase{L"", 0}, CharsetCase{L"utf-8 ", 0},
                      CharsetCase{L"klingon", 0}, CharsetCase{L"1252", 0}));

}  // namespace
