#include "core/ProxyChoice.h"

ProxyMode ChooseProxyMode(const UserProxySetting& setting) {
  if (!setting.readable) return ProxyMode::AutoDetect;
  if (!setting.autoConfigUrl.empty()) return ProxyMode::AutoConfigScript;
  if (setting.autoDetect) return ProxyMode::AutoDetect;
  if (!setting.proxy.empty()) return ProxyMode::Fixed;
  return ProxyMode::Direct;
}

ProxyDecision DecideProxy(const std::wstring& accountProxy, const std::wstring& accountBypass,
                          const MachineProxySetting& machine) {
  if (!accountProxy.empty()) return {ProxySource::Account, accountProxy, accountBypass};
  if (!machine.proxy.empty()) return {ProxySource::Machine, machine.proxy, machine.bypass};
  return {};
}

std::wstring DescribeProxy(const ProxyDecision& decision) {
  switch (decision.source) {
    case ProxySource::Account:
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
