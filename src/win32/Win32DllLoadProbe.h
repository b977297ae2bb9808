#pragma once
// The DLL load probe: the program file started once more with kLoadProbeSwitch and the DLL's
// path; that process loads the DLL and ends with 0 or with the loader's error code.

#include <string>
#include <vector>

#include "platform/DllLoadProbe.h"

inline constexpr wchar_t kLoadProbeSwitch[] = L"/LADEPROBE";

class Win32DllLoadProbe : public DllLoadProbe {
 public:
  std::optional<std::wstring> WhyNotLoadable(const std::wstring& path) override;
};

// The probe's own side: when the arguments are the switch and a path, loads that DLL, sets
// exitCode and answers true; otherwise answers false and the program goes on as usual.
bool RunDllLoadProbeSwitch(const std::vector<std::wstring>& arguments, int& exitCode);
