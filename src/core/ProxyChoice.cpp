#include "core/ProxyChoice.h"

#include "core/ProxyBypass.h"

namespace {

// The one proxy of a list ("host:port", or "http=host:port;https=host:port") that serves the
// scheme: the first entry for it or for every scheme; empty when none does. WinHTTP would send a
// request for a scheme without an entry direct, and so would not be known to have gone through
// a proxy: it gets this single proxy, or none.
std::wstring ProxyForScheme(const std::wstring& list, const std::wstring& scheme) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(L"; \t", start);
    if (end == std::wstring::npos) end = list.size();
    const std::wstring entry = list.substr(start, end - start);
    const std::size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos && !entry.empty()) return entry;
    if (equals != std::wstring::npos && equals + 1 < entry.size() &&
        Lowercase(entry.substr(0, equals)) == scheme) {
      return entry.substr(equals + 1);
    }
    start = end + 1;
  }
  return L"";
}

}  // namespace

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
  const std::wstring proxy = ProxyForScheme(chosen.proxy, url.scheme);
  if (proxy.empty() || IsLoopbackHost(url.host) || BypassListNames(chosen.bypass, url)) return {};
  return {chosen.source, proxy};
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
