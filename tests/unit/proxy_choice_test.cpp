#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "core/ProxyChoice.h"
#include "core/ProxyLogon.h"

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
  const Url update = ParseUrl(L"https://update.korval.de/v.txt");
  struct Row {
    AccountProxy account;
    const MachineProxySetting* machine;
    ProxyDecision expected;
    const wchar_t* described;
  } rows[] = {
      {{ProxySource::AccountFixed, L"user:3128", L"*.intern"},
       &machine,
       {ProxySource::AccountFixed, L"user:3128"},
       L"Proxy: user:3128 (Einstellung des Kontos)"},
      {{ProxySource::AccountScript, L"pac:3128", L""},
       &none,
       {ProxySource::AccountScript, L"pac:3128"},
       L"Proxy: pac:3128 (Einstellung des Kontos)"},
      {{},
       &machine,
       {ProxySource::Machine, machine.proxy},
       L"Proxy: proxy.firma.local:8080 (WinHTTP-Proxy des Computers)"},
      {{}, &none, {}, L"Proxy: direkt"},
  };
  for (const Row& row : rows) {
    const ProxyDecision decision = DecideProxy(row.account, *row.machine, update);
    EXPECT_EQ(decision, row.expected);
    EXPECT_EQ(DescribeProxy(decision), row.described);
  }
}

// A host that the chosen proxy's list names, and a loopback host, go direct; the other
// proxy's list plays no part.
TEST(DecideProxyTest, TheBypassListIsAppliedHere) {
  const MachineProxySetting machine{L"m:8080", L"<local>; *.firma.local,10.* https://nur.tls"};
  const struct {
    const wchar_t* url;
    bool direct;
  } rows[] = {
      {L"http://updateserver/v.txt", true},
      {L"http://a.firma.local/v.txt", true},
      {L"http://A.FIRMA.LOCAL:81/v.txt", true},
      {L"http://firma.local/v.txt", false},
      {L"http://10.1.2.3/v.txt", true},
      {L"http://110.1.2.3/v.txt", false},
      {L"https://nur.tls/v.txt", true},
      {L"http://nur.tls/v.txt", false},
      {L"http://localhost/status", true},
      {L"http://127.0.0.1:8080/v.txt", true},
      {L"http://[::1]/v.txt", true},
      {L"https://update.korval.de/v.txt", false},
      {L"http://127.0.0.1.example/v.txt", false},
  };
  for (const auto& row : rows) {
    const ProxyDecision decision = DecideProxy({}, machine, ParseUrl(row.url));
    EXPECT_EQ(decision.proxy.empty(), row.direct) << row.url;
    EXPECT_EQ(decision.source, row.direct ? ProxySource::None : ProxySource::Machine) << row.url;
  }
  const AccountProxy account{ProxySource::AccountFixed, L"a:3128", L"*:8443"};
  EXPECT_TRUE(DecideProxy(account, machine, ParseUrl(L"https://x.de:8443/")).proxy.empty());
  EXPECT_EQ(DecideProxy(account, machine, ParseUrl(L"http://a.firma.local/")).proxy, L"a:3128");
}

// A list per scheme gives the request the one proxy of its scheme, or none.
TEST(DecideProxyTest, OnlyTheProxyOfTheSchemeIsTaken) {
  const MachineProxySetting perScheme{L"ftp=f:21 http=h:80;HTTPS=s:443", L""};
  EXPECT_EQ(DecideProxy({}, perScheme, ParseUrl(L"https://u.de/")).proxy, L"s:443");
  EXPECT_EQ(DecideProxy({}, perScheme, ParseUrl(L"http://u.de/")).proxy, L"h:80");
  EXPECT_EQ(DecideProxy({}, {L"a:1;b:2", L""}, ParseUrl(L"http://u.de/")).proxy, L"a:1");
  EXPECT_EQ(DecideProxy({}, {L"ftp=f:21", L""}, ParseUrl(L"https://u.de/")), ProxyDecision{});
}

// Only schemes that need no password answer a proxy: the service has none to give.
TEST(DecideProxyTest, AProxyChallengeIsAnsweredWithNegotiateOrNtlmOnly) {
  EXPECT_EQ(ChooseProxyAuthScheme(0x1 | 0x2 | 0x10), kAuthSchemeNegotiate);
  EXPECT_EQ(ChooseProxyAuthScheme(0x1 | 0x2), kAuthSchemeNtlm);
  EXPECT_EQ(ChooseProxyAuthScheme(0x1 | 0x8), 0u);  // Basic, Digest
}

// Every proxy source x client x PROXYANMELDUNG x bypassed host x status. The machine's identity is
// given in exactly the rows listed: a 407 from an administrator's proxy that the request went
// through, asked by the check or the download, with JA.
TEST(ProxyLogonTest, TheMachineIdentityGoesOnlyToAnAdministratorsProxy) {
  const ProxySource sources[] = {ProxySource::None, ProxySource::AccountFixed,
                                 ProxySource::AccountScript, ProxySource::AccountDiscovery,
                                 ProxySource::Machine};
  const HttpClientRole clients[] = {HttpClientRole::VersionCheck, HttpClientRole::Download,
                                    HttpClientRole::StatusPage};
  using Row = std::tuple<ProxySource, HttpClientRole>;
  const std::set<Row> answered = {{ProxySource::AccountFixed, HttpClientRole::VersionCheck},
                                  {ProxySource::AccountFixed, HttpClientRole::Download},
                                  {ProxySource::Machine, HttpClientRole::VersionCheck},
                                  {ProxySource::Machine, HttpClientRole::Download}};
  int rows = 0;
  for (ProxySource source : sources) {
    for (const wchar_t* url : {L"http://update.korval.de/v.txt", L"http://updates.intern/v.txt"}) {
      // The proxy of the source, whose list names *.intern; None has no proxy at all.
      AccountProxy account;
      MachineProxySetting machine;
      if (source == ProxySource::Machine) machine = {L"m:8080", L"*.intern"};
      if (source != ProxySource::None && source != ProxySource::Machine) {
        account = {source, L"a:3128", L"*.intern"};
      }
      const ProxyDecision route = DecideProxy(account, machine, ParseUrl(url));
      const bool bypassed = std::wstring(url).find(L".intern") != std::wstring::npos;
      for (HttpClientRole client : clients) {
        for (bool ja : {false, true}) {
          for (int status : {401, 407}) {
            const IdentityDemand demand{route.source, client, ja, !route.proxy.empty(), status};
            const bool expected =
                status == 407 && ja && !bypassed && answered.count({source, client}) == 1;
            EXPECT_EQ(MayAnswerWithMachineIdentity(demand), expected)
                << static_cast<int>(source) << " " << static_cast<int>(client) << " " << ja << " "
                << bypassed << " " << status;
            ++rows;
          }
        }
      }
    }
  }
  EXPECT_EQ(rows, 5 * 2 * 3 * 2 * 2);
}

}  // namespace
