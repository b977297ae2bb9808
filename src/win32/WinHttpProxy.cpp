#include "win32/WinHttpProxy.h"

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

void ApplyProxy(const UserProxySetting& setting, HINTERNET session, HINTERNET request,
                const std::wstring& url) {
  NamedProxy chosen = ChooseProxy(setting, session, url);
  if (chosen.proxy.empty()) return;
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = chosen.proxy.data();
  info.lpszProxyBypass = chosen.bypass.empty() ? nullptr : chosen.bypass.data();
  // A proxy that cannot be set leaves the request direct, as when none is found.
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}
