#include "core/ProxyChoice.h"

#include "core/ProxyBypass.h"

ProxyMode ChooseProxyMode(const UserProxySetting& setting) {
  if (!setting.readable) return ProxyMode::AutoDetect;
  if (!setting.autoConfigUrl.empty()) return ProxyMode::AutoConfigScript;
  if (setting.autoDetect) return ProxyMode::AutoDetect;
  if (!setting.proxy.empty()) return ProxyMode::Fixed;
  return ProxyMode::Direct;
}

ProxyDecision DecideProxy(const AccountProxy& account, const MachineProxySetting& machine,
                          const Url& url) {
  AccountProxy chosen = account;
  if (chosen.proxy.empty() || chosen.source == ProxySource::None) {
    chosen = {ProxySource::Machine, machine.proxy, machine.bypass};
  }
  if (chosen.proxy.empty() || IsLoopbackHost(url.host) || BypassListNames(chosen.bypass, url)) {
    return {};
  }
  return {chosen.source, chosen.proxy};
}

std::wstring DescribeProxy(const ProxyDecision& decision) {
  switch (decision.source) {
    case ProxySource::AccountFixed:
    case ProxySource::AccountScript:
    case ProxySource::AccountDiscovery:
      return L"Proxy: " + decision.proxy + L" (Einstellung des Kontos)";
    case ProxySource::Machine:
      return L"Proxy: " + decision.proxy + L" (WinHTTP-Proxy des Computers)";
    case ProxySource::None:
      break;
  }
  return L"Proxy: direkt";
}

unsigned ChooseProxyAuthScheme(unsigned supportedSchemes) {
  if (supportedSchemes & kAuthSchemeNegotiate) return kAuthSchemeNegotiate;
  if (supportedSchemes & kAuthSchemeNtlm) return kAuthSchemeNtlm;
  return 0;
}
