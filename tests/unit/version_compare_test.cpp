#include <gtest/gtest.h>

#include "core/VersionCompare.h"

namespace {

TEST(RemoveDots, RemovesEveryDotAndNothingElse) {
  EXPECT_EQ(RemoveDots(L"2.1.0.15"), L"21015");
  EXPECT_EQ(RemoveDots(L" 2..1.\r\n"), L" 21\r\n");
  EXPECT_EQ(RemoveDots(L""), L"");
}

struct DottedCase {
  const wchar_t* text;
  bool dotted;
};

class IsDottedDecimalTest : public ::testing::TestWithParam<DottedCase> {};

TEST_P(IsDottedDecimalTest, Decides) {
  EXPECT_EQ(IsDottedDecimal(GetParam().text), GetParam().dotted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, IsDottedDecimalTest,
                         ::testing::Values(DottedCase{L"2.1.0.0", true},
                                           DottedCase{L"  2.1.0.0", true},
                                           DottedCase{L"2.10", true}, DottedCase{L"002.01", true},
                                           DottedCase{L"2100", false}, DottedCase{L"", false},
                                           DottedCase{L"2..1", false}, DottedCase{L".2.1", false},
                                           DottedCase{L"2.1.", false}, DottedCase{L"+2.1", false},
                                           DottedCase{L"-2.1", false}, DottedCase{L"$2.1", false},
                                           DottedCase{L"2.1 ", false},
                                           DottedCase{L"\t2.1", false}));

struct CompareCase {
  const wchar_t* online;
  std::int32_t onlineNumber;
  const wchar_t* local;
  std::int32_t localNumber;
  bool older;
};

class IsOlderVersionTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(IsOlderVersionTest, Decides) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(IsOlderVersion(c.local, c.localNumber, c.online, c.onlineNumber), c.older)
      << "local " << testing::PrintToString(std::wstring(c.local)) << " online "
      << testing::PrintToString(std::wstring(c.online));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, IsOlderVersionTest,
    ::testing::Values(
        CompareCase{L"2.1.0.1", 2101, L"2.1.0.0", 2100, true},
        CompareCase{L"2.1.0.0", 2100, L"2.1.0.0", 2100, false},
        // joined digits would call 2.1.0.15 newer (21015 > 2110): by parts it is older
        CompareCase{L"2.1.1.0", 2110, L"2.1.0.15", 21015, true},
        // joined digits would call 3.0.0.0 older (3000 < 21000): by parts it is newer
        CompareCase{L"2.10.0.0", 21000, L"3.0.0.0", 3000, false},
        CompareCase{L"2.1.0.15", 21015, L"2.1.1.0", 2110, false},
        CompareCase{L"3.0.0.0", 3000, L"2.10.0.0", 21000, true},
        // leading zeros and blanks do not change a part's value
        CompareCase{L"  2.01.0.0", 2100, L"2.1.0.0", 2100, false},
        CompareCase{L"2.1.0.2", 2102, L"2.1.0.010", 21010, false},
        // a missing part counts as 0
        CompareCase{L"2.1", 21, L"2.1.0.0", 2100, false},
        CompareCase{L"2.1.0.1", 2101, L"2.1", 21, true},
        // texts that are not dotted decimal: the integer numbers decide
        CompareCase{L"2100", 2100, L"2.1.0.0", 2100, false},
        CompareCase{L"2101", 2101, L"2.1.0.0", 2100, true},
        CompareCase{L"$10", 16, L"1.5", 15, true}, CompareCase{L"-5", -5, L"0.0.0.1", 1, false},
        CompareCase{L"0x10", 16, L"1.5", 15, true}));

}  // namespace

namespace {

struct ResourceVersionCase {
  const wchar_t* a;
  const wchar_t* b;
  bool resource;  // both are versions a version resource can hold
  bool same;      // IsSameVersion(a, b)
};

class ResourceVersionTest : public ::testing::TestWithParam<ResourceVersionCase> {};

TEST_P(ResourceVersionTest, BigPartsCompareWithoutTheIntegerRange) {
  const ResourceVersionCase& c = GetParam();
  EXPECT_EQ(IsResourceVersion(c.a) && IsResourceVersion(c.b), c.resource);
  EXPECT_EQ(IsSameVersion(c.a, c.b), c.same);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ResourceVersionTest,
    ::testing::Values(
        // 10910030000 exceeds the integers, yet these are versions a DLL can carry
        ResourceVersionCase{L"1.0.9100.30000", L"1.0.9100.30000", true, true},
        ResourceVersionCase{L"65535.65535.65535.65535", L"65535.65535.65535.65535", true, true},
        ResourceVersionCase{L"1.0.9100.30000", L"1.0.9100.30001", true, false},
        ResourceVersionCase{L"  1.0.09100.30000", L"1.0.9100.30000", true, true},
        // a part beyond 65535 or a fifth part: no version resource holds it, today's rule
        ResourceVersionCase{L"1.0.9100.65536", L"1.0.9100.65536", false, false},
        ResourceVersionCase{L"1.0.0.0.1", L"1.0.0.0.1", false, true},
        ResourceVersionCase{L"1.0.9100.30000\r\n", L"1.0.9100.30000", false, false}));

TEST(CompareDottedVersions, OrdersPartByPart) {
  EXPECT_LT(CompareDottedVersions(L"1.0.9100.30000", L"1.0.9101.0"), 0);
  EXPECT_GT(CompareDottedVersions(L"2.0", L"1.65535.65535.65535"), 0);
  EXPECT_EQ(CompareDottedVersions(L"2.1", L"2.1.0.0"), 0);
}

}  // namespace
