#include "win32/WinHttpProxy.h"

#include <mutex>

#include "win32/WinHttpClient.h"

namespace {

std::wstring TakeGlobalString(LPWSTR text) {
  if (text == nullptr) return L"";
  std::wstring result(text);
  GlobalFree(text);
  return result;
}

UserProxySetting ReadProxySetting() {
  UserProxySetting setting;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return setting;
  setting.readable = true;
  setting.autoDetect = config.fAutoDetect != FALSE;
  setting.autoConfigUrl = TakeGlobalString(config.lpszAutoConfigUrl);
  setting.proxy = TakeGlobalString(config.lpszProxy);
  setting.bypass = TakeGlobalString(config.lpszProxyBypass);
  return setting;
}

AccountProxy AutomaticProxy(HINTERNET session, const std::wstring& url,
                            const UserProxySetting& setting, ProxyMode mode) {
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (mode == ProxyMode::AutoConfigScript) {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = setting.autoConfigUrl.c_str();
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  options.fAutoLogonIfChallenged = FALSE;
  WINHTTP_PROXY_INFO found{};
  if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) return {};
  bool named = found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  std::wstring proxy = TakeGlobalString(found.lpszProxy);
  std::wstring bypass = TakeGlobalString(found.lpszProxyBypass);
  if (!named) return {};
  const ProxySource source = mode == ProxyMode::AutoConfigScript ? ProxySource::AccountScript
                                                                 : ProxySource::AccountDiscovery;
  return AccountProxy{source, proxy, bypass};
}

MachineProxySetting ReadMachineProxySetting() {
  MachineProxySetting setting;
  WINHTTP_PROXY_INFO info{};
  if (!WinHttpGetDefaultProxyConfiguration(&info)) return setting;
  std::wstring proxy = TakeGlobalString(info.lpszProxy);
  std::wstring bypass = TakeGlobalString(info.lpszProxyBypass);
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) setting = {proxy, bypass};
  return setting;
}

std::mutex lastDecisionLock;
std::optional<ProxyDecision> lastDecision;

AccountProxy ChooseProxy(const UserProxySetting& setting, HINTERNET session,
                         const std::wstring& url) {
  ProxyMode mode = ChooseProxyMode(setting);
  switch (mode) {
    case ProxyMode::AutoConfigScript:
    case ProxyMode::AutoDetect:
      return AutomaticProxy(session, url, setting, mode);
    case ProxyMode::Fixed:
      return AccountProxy{ProxySource::AccountFixed, setting.proxy, setting.bypass};
    case ProxyMode::Direct:
      break;
  }
  return {};
}

}  // namespace

const UserProxySetting& ProcessProxySetting() {
  static const UserProxySetting setting = ReadProxySetting();
  return setting;
}

const MachineProxySetting& ProcessMachineProxySetting() {
  static const MachineProxySetting setting = ReadMachineProxySetting();
  return setting;
}

ProxyDecision RouteRequest(const UserProxySetting& setting, HINTERNET direct, const Url& url) {
  const AccountProxy account = ChooseProxy(setting, direct, url.ToString());
  const ProxyDecision decision = DecideProxy(account, ProcessMachineProxySetting(), url);
  std::lock_guard<std::mutex> hold(lastDecisionLock);
  lastDecision = decision;
  return decision;
}

std::optional<ProxyDecision> LastProxyDecision() {
  std::lock_guard<std::mutex> hold(lastDecisionLock);
  return lastDecision;
}

// The identity is LocalSystem's, the computer account: a proxy in the domain knows it, and
// anyone else who gets it can relay it. The credentials go to the proxy target alone.
bool AnswerProxyChallenge(HINTERNET request, const ProxyDecision& route, HttpClientRole client,
                          bool proxyLogon) {
  const IdentityDemand demand{route.source, client, proxyLogon, !route.proxy.empty(),
                              QueryStatus(request)};
  if (!MayAnswerWithMachineIdentity(demand)) return false;
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
  if (target != WINHTTP_AUTH_TARGET_PROXY) return false;
  const unsigned scheme = ChooseProxyAuthScheme(supported);
  if (scheme == 0) return false;
  return WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                               nullptr) != FALSE;
}
