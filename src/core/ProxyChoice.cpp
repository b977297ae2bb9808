#include "core/ProxyChoice.h"

ProxyMode ChooseProxyMode(const UserProxySetting& setting) {
  if (!setting.readable) return ProxyMode::AutoDetect;
  if (!setting.autoConfigUrl.empty()) return ProxyMode::AutoConfigScript;
  if (setting.autoDetect) return ProxyMode::AutoDetect;
  if (!setting.proxy.empty()) return ProxyMode::Fixed;
  return ProxyMode::Direct;
}
