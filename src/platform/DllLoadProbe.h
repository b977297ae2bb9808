#pragma once
// Loads a DLL in a short-lived process of the service's own, as a worker process will: a DLL
// that misses a dependency, is no image for this machine or fails its initialisation is found
// before any target is touched. The process has no more power than a worker process.

#include <string>

// What a probe found: the DLL loaded, it does not load (reason: the platform's error), or the
// probe could not be run with its restrictions (reason: what the platform refused).
struct LoadProbeAnswer {
  enum class Kind { Loaded, NotLoadable, NotRunnable };
  Kind kind = Kind::NotRunnable;
  std::wstring reason;
};

class DllLoadProbe {
 public:
  virtual ~DllLoadProbe() = default;
  // Loads the DLL at path with only IIS's folder (inetsrv), dependencyFolder and the system
  // folder searched for its dependencies. Waits a bounded time; a DLL that has not loaded by then
  // does not load.
  virtual LoadProbeAnswer Probe(const std::wstring& path, const std::wstring& dependencyFolder) = 0;
};
