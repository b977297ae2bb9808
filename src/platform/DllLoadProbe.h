#pragma once
// Loads a DLL in a short-lived process of the service's own, as a worker process will: a DLL
// that misses a dependency, is no image for this machine or fails its initialisation is found
// before any target is touched.

#include <optional>
#include <string>

class DllLoadProbe {
 public:
  virtual ~DllLoadProbe() = default;
  // Why the DLL at path does not load (the platform's error), or nullopt when it loaded. Waits a
  // bounded time; a probe that does not end in it counts as a failure.
  virtual std::optional<std::wstring> WhyNotLoadable(const std::wstring& path) = 0;
};
