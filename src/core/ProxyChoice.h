#pragma once
// Which proxy a request takes, from the per-user Internet settings.

#include <string>

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
