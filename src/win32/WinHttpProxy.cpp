#include "win32/WinHttpProxy.h"

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

void SetNamedProxy(HINTERNET request, LPWSTR proxy, LPWSTR bypass) {
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = proxy;
  info.lpszProxyBypass = bypass;
  // A proxy that cannot be set leaves the request direct, as when none is found.
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}

void ApplyAutomaticProxy(HINTERNET session, HINTERNET request, const std::wstring& url,
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
  if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) return;
  if (found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && found.lpszProxy != nullptr) {
    SetNamedProxy(request, found.lpszProxy, found.lpszProxyBypass);
  }
  if (found.lpszProxy != nullptr) GlobalFree(found.lpszProxy);
  if (found.lpszProxyBypass != nullptr) GlobalFree(found.lpszProxyBypass);
}

}  // namespace

const UserProxySetting& ProcessProxySetting() {
  static const UserProxySetting setting = ReadProxySetting();
  return setting;
}

void ApplyProxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
  const UserProxySetting& setting = ProcessProxySetting();
  ProxyMode mode = ChooseProxyMode(setting);
  switch (mode) {
    case ProxyMode::AutoConfigScript:
    case ProxyMode::AutoDetect:
      ApplyAutomaticProxy(session, request, url, setting, mode);
      break;
    case ProxyMode::Fixed: {
      std::wstring proxy = setting.proxy;
      std::wstring bypass = setting.bypass;
      SetNamedProxy(request, proxy.data(), bypass.empty() ? nullptr : bypass.data());
      break;
    }
    case ProxyMode::Direct:
      break;
  }
}
