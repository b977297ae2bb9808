#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "win32/Win32VersionReader.h"

namespace {

// The fixture DLL of the given name, as a path under Wine's Z: drive.
std::wstring FixturePath(const std::string& name) {
  const char* buildDir = std::getenv("KORVAL_BUILD_DIR");
  std::string path =
      std::string(buildDir ? buildDir : "") + "/fixtures/" + name + "/KorvalAppServer.dll";
  std::wstring windowsPath = L"Z:";
  for (char c : path) windowsPath += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return windowsPath;
}

std::wstring Formatted(const ProductVersion& v) {
  return std::to_wstring(HIWORD(v.ms)) + L"." + std::to_wstring(LOWORD(v.ms)) + L"." +
         std::to_wstring(HIWORD(v.ls)) + L"." + std::to_wstring(LOWORD(v.ls));
}

struct VersionCase {
  const char* fixture;
  const wchar_t* productVersion;
};

class ReadProductVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(ReadProductVersionTest, ReadsTheProductVersionOfTheFixture) {
  ASSERT_NE(std::getenv("KORVAL_BUILD_DIR"), nullptr);
  Win32VersionReader reader;
  std::optional<ProductVersion> version =
      reader.ReadProductVersion(FixturePath(GetParam().fixture));
  ASSERT_TRUE(version.has_value()) << GetParam().fixture;
  EXPECT_EQ(Formatted(*version), GetParam().productVersion);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReadProductVersionTest,
                         ::testing::Values(VersionCase{"v2_1_0_0", L"2.1.0.0"},
                                           VersionCase{"v2_1_0_15", L"2.1.0.15"},
                                           VersionCase{"v3_0_0_0", L"3.0.0.0"},
                                           // the file version 2.1.0.5 is not what counts
                                           VersionCase{"file2_1_0_5_product2_1_0_0", L"2.1.0.0"},
                                           VersionCase{"v65535", L"65535.65535.65535.65535"}));

TEST(ReadProductVersion, NothingForAMissingFileOrOneWithoutVersion) {
  Win32VersionReader reader;
  EXPECT_FALSE(reader.ReadProductVersion(FixturePath("does_not_exist")).has_value());
  EXPECT_FALSE(reader.ReadProductVersion(FixturePath("no_version")).has_value());
  EXPECT_FALSE(reader.ReadProductVersion(L"").has_value());
}

TEST(ReadProductVersion, NothingForAFixedBlockShorterThanItsStructure) {
  // The fixture really carries a short block: version.dll hands it out with its short length.
  std::wstring path = FixturePath("short_fixed_block");
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_NE(size, 0u);
  std::vector<BYTE> buffer(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()));
  void* block = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(buffer.data(), L"\\", &block, &length));
  EXPECT_EQ(length, 20u);

  Win32VersionReader reader;
  EXPECT_FALSE(reader.ReadProductVersion(path).has_value());
}

}  // namespace
