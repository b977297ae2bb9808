#include "win32/WinHttpProxy.h"

#include <mutex>

namespace {

struct NamedProxy {
  std::wstring proxy;  // empty: direct
  std::wstring bypass;
};

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

NamedProxy AutomaticProxy(HINTERNET session, const std::wstring& url,
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
  return NamedProxy{proxy, bypass};
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

NamedProxy ChooseProxy(const UserProxySetting& setting, HINTERNET session,
                       const std::wstring& url) {
  ProxyMode mode = ChooseProxyMode(setting);
  switch (mode) {
    case ProxyMode::AutoConfigScript:
    case ProxyMode::AutoDetect:
      return AutomaticProxy(session, url, setting, mode);
    case ProxyMode::Fixed:
      return NamedProxy{setting.proxy, setting.bypass};
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

ProxyDecision ApplyProxy(const UserProxySetting& setting, HINTERNET session, HINTERNET request,
                         const std::wstring& url) {
  const NamedProxy account = ChooseProxy(setting, session, url);
  ProxyDecision decision = DecideProxy(account.proxy, account.bypass, ProcessMachineProxySetting());
  {
    std::lock_guard<std::mutex> hold(lastDecisionLock);
    lastDecision = decision;
  }
  if (decision.proxy.empty()) return decision;
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = decision.proxy.data();
  info.lpszProxyBypass = decision.bypass.empty() ? nullptr : decision.bypass.data();
  // A proxy that cannot be set leaves the request direct, as when none is found.
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
  return decision;
}

std::optional<ProxyDecision> LastProxyDecision() {
  std::lock_guard<std::mutex> hold(lastDecisionLock);
  return lastDecision;
}

// The identity is LocalSystem's, the computer account: a proxy in the domain knows it. The
// autologon policy is lowered on this request only, and the credentials go to the proxy target
// alone.
bool AnswerProxyChallenge(HINTERNET request) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
  if (target != WINHTTP_AUTH_TARGET_PROXY) return false;
  const unsigned scheme = ChooseProxyAuthScheme(supported);
  if (scheme == 0) return false;
  DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
  WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
  return WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                               nullptr) != FALSE;
}
