#include <gtest/gtest.h>

#include "core/ProxyChoice.h"

namespace {

struct ProxyCase {
  bool readable;
  bool autoDetect;
  const wchar_t* autoConfigUrl;
  const wchar_t* proxy;
  ProxyMode expected;
};

class ChooseProxyModeTest : public ::testing::TestWithParam<ProxyCase> {};

TEST_P(ChooseProxyModeTest, FollowsThePrecedence) {
  const ProxyCase& c = GetParam();
  UserProxySetting setting;
  setting.readable = c.readable;
  setting.autoDetect = c.autoDetect;
  setting.autoConfigUrl = c.autoConfigUrl;
  setting.proxy = c.proxy;
  setting.bypass = L"<local>";
  EXPECT_EQ(ChooseProxyMode(setting), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ChooseProxyModeTest,
    ::testing::Values(
        ProxyCase{false, false, L"", L"", ProxyMode::AutoDetect},
        ProxyCase{false, false, L"http://pac/p.pac", L"proxy:8080", ProxyMode::AutoDetect},
        ProxyCase{true, true, L"http://pac/p.pac", L"proxy:8080", ProxyMode::AutoConfigScript},
        ProxyCase{true, false, L"http://pac/p.pac", L"", ProxyMode::AutoConfigScript},
        ProxyCase{true, true, L"", L"proxy:8080", ProxyMode::AutoDetect},
        ProxyCase{true, false, L"", L"proxy:8080", ProxyMode::Fixed},
        ProxyCase{true, false, L"", L"", ProxyMode::Direct}));

}  // namespace
