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

TEST(DecideProxyTest, TheAccountFirstThenTheMachineThenDirect) {
  const MachineProxySetting machine{L"proxy.firma.local:8080", L"<local>;*.firma.local"};
  const MachineProxySetting none{};
  struct Row {
    const wchar_t* account;
    const MachineProxySetting* machine;
    ProxyDecision expected;
    const wchar_t* described;
  } rows[] = {
      {L"user:3128", &machine, {ProxySource::Account, L"user:3128", L"*.intern"},
       L"Proxy: user:3128 (Einstellung des Kontos)"},
      {L"", &machine, {ProxySource::Machine, machine.proxy, machine.bypass},
       L"Proxy: proxy.firma.local:8080 (WinHTTP-Proxy des Computers)"},
      {L"", &none, {}, L"Proxy: direkt"},
  };
  for (const Row& row : rows) {
    const ProxyDecision decision = DecideProxy(row.account, L"*.intern", *row.machine);
    EXPECT_EQ(decision, row.expected);
    EXPECT_EQ(DescribeProxy(decision), row.described);
  }
}

// Only schemes that need no password answer a proxy: the service has none to give.
TEST(DecideProxyTest, AProxyChallengeIsAnsweredWithNegotiateOrNtlmOnly) {
  EXPECT_EQ(ChooseProxyAuthScheme(0x1 | 0x2 | 0x10), kAuthSchemeNegotiate);
  EXPECT_EQ(ChooseProxyAuthScheme(0x1 | 0x2), kAuthSchemeNtlm);
  EXPECT_EQ(ChooseProxyAuthScheme(0x1 | 0x8), 0u);  // Basic, Digest
}

}  // namespace
