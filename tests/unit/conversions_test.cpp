#include "core/Conversions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "core/Exception.h"

namespace {

std::wstring IntegerMessage(const std::wstring& text) {
  return L"'" + text + L"' ist kein gültiger Integerwert für Typ 'Integer'";
}

std::wstring BooleanMessage(const std::wstring& text) {
  return L"'" + text + L"' ist kein gültiger boolescher Wert";
}

struct IntCase {
  std::wstring text;
  std::optional<std::int32_t> expected;  // nullopt: the conversion fails
};

void PrintTo(const IntCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.text) << " -> "
      << (c.expected ? std::to_string(*c.expected) : "fails");
}

class StrToIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTest, ConvertsOrRaisesTheIntegerMessage) {
  const IntCase& c = GetParam();
  if (c.expected) {
    EXPECT_EQ(StrToInt(c.text), *c.expected);
    return;
  }
  try {
    const std::int32_t value = StrToInt(c.text);
    ADD_FAILURE() << "accepted, gave " << value;
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), IntegerMessage(c.text));
  }
}

const IntCase kIntCases[] = {
    // Decimal.
    {L"24", 24},
    {L"0", 0},
    {L"-3", -3},
    {L"+5", 5},
    {L"-0", 0},
    {L"007", 7},
    {L"2147483647", 2147483647},
    {L"-2147483648", INT32_MIN},
    {L"2147483648", std::nullopt},
    {L"-2147483649", std::nullopt},
    {L"4294967296", std::nullopt},
    {L"99999999999999999999", std::nullopt},
    {L"00000000002147483647", 2147483647},
    // Blanks: only spaces, only before.
    {L" 12", 12},
    {L"   -12", -12},
    {L"12 ", std::nullopt},
    {L"\t12", std::nullopt},
    {L"\n12", std::nullopt},
    {L"12\n", std::nullopt},
    {L"\xFEFF"
     L"12",
     std::nullopt},
    {L"- 12", std::nullopt},
    // Hexadecimal patterns.
    {L"$18", 24},
    {L"x18", 24},
    {L"X18", 24},
    {L"0x18", 24},
    {L"0X18", 24},
    {L"$ff", 255},
    {L"$aBcD", 0xABCD},
    {L"-$18", -24},
    {L"+$18", 24},
    {L" $18", 24},
    {L"$FFFFFFFF", -1},
    {L"$80000000", INT32_MIN},
    {L"-$80000000", INT32_MIN},
    {L"-$FFFFFFFF", 1},
    {L"-$7FFFFFFF", -2147483647},
    {L"0x7FFFFFFF", 2147483647},
    {L"$000000001", 1},
    {L"$0000000000000000FFFFFFFF", -1},
    {L"$0", 0},
    {L"$100000000", std::nullopt},
    {L"$", std::nullopt},
    {L"0x", std::nullopt},
    {L"-$", std::nullopt},
    {L"$G", std::nullopt},
    {L"$1 ", std::nullopt},
    {L"$$1", std::nullopt},
    {L"0x0x1", std::nullopt},
    {L"00x1", std::nullopt},
    // Anything else.
    {L"", std::nullopt},
    {L" ", std::nullopt},
    {L"+", std::nullopt},
    {L"-", std::nullopt},
    {L"+-1", std::nullopt},
    {L"12h", std::nullopt},
    {L"1.5", std::nullopt},
    {L"1,5", std::nullopt},
    {L"1e3", std::nullopt},
    {L"\x0661", std::nullopt},  // an Arabic-Indic digit one
};

INSTANTIATE_TEST_SUITE_P(Table, StrToIntTest, testing::ValuesIn(kIntCases));

struct BoolCase {
  std::wstring text;
  wchar_t separator;
  std::optional<bool> expected;  // nullopt: the conversion fails
};

void PrintTo(const BoolCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.text) << " with " << testing::PrintToString(c.separator) << " -> "
      << (c.expected ? (*c.expected ? "true" : "false") : "fails");
}

class StrToBoolTest : public testing::TestWithParam<BoolCase> {};

TEST_P(StrToBoolTest, ConvertsOrRaisesTheBooleanMessage) {
  const BoolCase& c = GetParam();
  if (c.expected) {
    EXPECT_EQ(StrToBool(c.text, c.separator), *c.expected);
    return;
  }
  try {
    const bool value = StrToBool(c.text, c.separator);
    ADD_FAILURE() << "accepted, gave " << value;
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), BooleanMessage(c.text));
  }
}

const BoolCase kBoolCases[] = {
    // Numbers: true unless zero.
    {L"1", L'.', true},
    {L"-1", L'.', true},
    {L"2", L'.', true},
    {L"0", L'.', false},
    {L"-0", L'.', false},
    {L"+0", L'.', false},
    {L"000", L'.', false},
    {L" 1 ", L'.', true},
    {L"  0  ", L'.', false},
    {L"1e5", L'.', true},
    {L"0e9", L'.', false},
    {L"1E-5", L'.', true},
    {L"1e+5", L'.', true},
    {L"0.0", L'.', false},
    {L"0.001", L'.', true},
    {L".5", L'.', true},
    {L"5.", L'.', true},
    {L"0,0", L',', false},
    {L"1,5", L',', true},
    {L",0", L',', false},
    {L"1.5", L',', std::nullopt},
    {L"1,5", L'.', std::nullopt},
    {L"1.5.", L'.', std::nullopt},
    {L"1..5", L'.', std::nullopt},
    {L".", L'.', std::nullopt},
    {L"1e", L'.', std::nullopt},
    {L"1e+", L'.', std::nullopt},
    {L"e5", L'.', std::nullopt},
    {L"1e5.0", L'.', std::nullopt},
    {L"+-1", L'.', std::nullopt},
    {L"1 0", L'.', std::nullopt},
    {L"\t1", L'.', std::nullopt},
    {L"1x", L'.', std::nullopt},
    {L"$1", L'.', std::nullopt},
    // The special words count as numbers other than zero.
    {L"NAN", L'.', true},
    {L"nan", L'.', true},
    {L"INF", L'.', true},
    {L"+Inf", L'.', true},
    {L"-inf", L'.', true},
    {L"-INF", L',', true},
    {L"INF ", L'.', std::nullopt},
    {L"INFINITY", L'.', std::nullopt},
    {L"-NAN", L'.', std::nullopt},
    // The words True and False in any case.
    {L"true", L'.', true},
    {L"TRUE", L'.', true},
    {L"True", L'.', true},
    {L"False", L'.', false},
    {L"fALSE", L'.', false},
    {L" True", L'.', std::nullopt},
    {L"True ", L'.', std::nullopt},
    {L"ja", L'.', std::nullopt},
    {L"yes", L'.', std::nullopt},
    {L"nein", L'.', std::nullopt},
    {L"T", L'.', std::nullopt},
    {L"", L'.', std::nullopt},
    {L" ", L'.', std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Table, StrToBoolTest, testing::ValuesIn(kBoolCases));

struct FolderCase {
  std::wstring folder;
  std::wstring expected;
};

void PrintTo(const FolderCase& c, std::ostream* os) {
  *os << testing::PrintToString(c.folder) << " -> " << testing::PrintToString(c.expected);
}

class FolderRuleTest : public testing::TestWithParam<FolderCase> {};

TEST_P(FolderRuleTest, EndsWithExactlyTheBackslashNeeded) {
  EXPECT_EQ(ApplyFolderRule(GetParam().folder), GetParam().expected);
}

const FolderCase kFolderCases[] = {
    {L"C:\\inetpub\\app", L"C:\\inetpub\\app\\"},
    {L"C:\\inetpub\\app\\", L"C:\\inetpub\\app\\"},
    {L"C:/inetpub/app/", L"C:/inetpub/app/\\"},
    {L"", L"\\"},
    {L"\\", L"\\"},
    {L"relativ", L"relativ\\"},
    {L"C:", L"C:\\"},
    {L"app\\\\", L"app\\\\"},
};

INSTANTIATE_TEST_SUITE_P(Table, FolderRuleTest, testing::ValuesIn(kFolderCases));

}  // namespace
