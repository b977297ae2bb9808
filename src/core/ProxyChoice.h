#pragma once
// Which proxy a request takes: the account's Internet settings first, then the machine's WinHTTP
// proxy (netsh winhttp set proxy), which is how servers usually have theirs.

#include <string>

#include "core/Url.h"

// The per-user proxy setting as the platform reports it.
struct UserProxySetting {
  bool readable = false;       // false when the platform could not report any setting
  bool autoDetect = false;     // automatic proxy discovery enabled
  std::wstring autoConfigUrl;  // URL of an automatic configuration script, empty when none
  std::wstring proxy;          // fixed proxy list, empty when none
  std::wstring bypass;         // the fixed proxy's bypass list
};

enum class ProxyMode {
  Direct,            // no proxy
  AutoConfigScript,  // evaluate the script at autoConfigUrl for each URL
  AutoDetect,        // discover a script (WPAD), then evaluate it for each URL
  Fixed,             // the fixed proxy with its bypass list
};

// An automatic configuration script if one is set, otherwise automatic discovery if enabled,
// otherwise the fixed proxy; automatic discovery when no setting could be read at all; direct
// when the setting names nothing.
ProxyMode ChooseProxyMode(const UserProxySetting& setting);

// The machine's WinHTTP proxy as the platform reports it.
struct MachineProxySetting {
  std::wstring proxy;   // empty when none is set (direct)
  std::wstring bypass;  // its bypass list
};

// Where the proxy of a request came from. Only the fixed proxy of the account and the machine's
// WinHTTP proxy are named by an administrator; a script or discovery may be served by anyone who
// controls the network or a web server.
enum class ProxySource { None, AccountFixed, AccountScript, AccountDiscovery, Machine };

// The proxy the account's setting gives for one URL (empty when it gives none).
struct AccountProxy {
  ProxySource source = ProxySource::None;
  std::wstring proxy;
  std::wstring bypass;
};

// The route of one request: through `proxy`, or direct when it is empty (source None). A request
// with a proxy goes through it: the bypass list has been applied already.
struct ProxyDecision {
  ProxySource source = ProxySource::None;
  std::wstring proxy;
  bool operator==(const ProxyDecision&) const = default;
};

// The account's proxy when it gives one, otherwise the machine's when one is set; direct when
// neither does, when the chosen proxy's bypass list names the URL's host, and for a loopback host.
ProxyDecision DecideProxy(const AccountProxy& account, const MachineProxySetting& machine,
                          const Url& url);

// What CHECK prints about it: "Proxy: direkt", "Proxy: <list> (Einstellung des Kontos)",
// "Proxy: <list> (WinHTTP-Proxy des Computers)".
std::wstring DescribeProxy(const ProxyDecision& decision);

// WINHTTP_AUTH_SCHEME_* bits of the schemes WinHTTP reports for a proxy's challenge (407).
inline constexpr unsigned kAuthSchemeNtlm = 0x2;
inline constexpr unsigned kAuthSchemeNegotiate = 0x10;

// The scheme with which the machine's own identity answers a proxy: Negotiate, else NTLM; 0 when
// the proxy offers neither (Basic or Digest would need a password, which the service has not).
unsigned ChooseProxyAuthScheme(unsigned supportedSchemes);
