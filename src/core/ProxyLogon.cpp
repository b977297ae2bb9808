#include "core/ProxyLogon.h"

#include <cwctype>

#include "core/Exception.h"

namespace {

constexpr int kProxyAuthenticationRequired = 407;

bool AdministratorNamed(ProxySource source) {
  return source == ProxySource::AccountFixed || source == ProxySource::Machine;
}

bool ServesTheUpdateServer(HttpClientRole client) {
  return client == HttpClientRole::VersionCheck || client == HttpClientRole::Download;
}

std::wstring Normalized(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return L"";
  const std::size_t last = text.find_last_not_of(L" \t");
  std::wstring value = text.substr(first, last - first + 1);
  for (wchar_t& c : value) c = static_cast<wchar_t>(std::towupper(c));
  return value;
}

}  // namespace

bool MayAnswerWithMachineIdentity(const IdentityDemand& demand) {
  return demand.status == kProxyAuthenticationRequired && demand.throughProxy &&
         AdministratorNamed(demand.source) && ServesTheUpdateServer(demand.client) &&
         demand.allowed;
}

bool ParseProxyLogon(const std::wstring& text) {
  const std::wstring value = Normalized(text);
  if (value == L"NEIN") return false;
  if (value == L"JA") return true;
  throw Exception(L"'" + text + L"' ist kein gültiger Wert für PROXYANMELDUNG (NEIN oder JA)");
}

std::wstring ProxyLogonFailure(bool answered) {
  if (answered) {
    return L"Der Proxy hat die Anmeldung mit der Identität des Computers abgelehnt (Status 407).";
  }
  return L"Der Proxy verlangt eine Anmeldung (Status 407); sie wird nur einem vom Administrator "
         L"eingerichteten Proxy und nur mit PROXYANMELDUNG=JA gegeben.";
}
