#pragma once
// The DLL load probe: the program file started once more, as a RestrictedProcess in the system
// folder, with kLoadProbeSwitch, the DLL's path and the folder of its dependencies; that process
// loads the DLL and ends with 0, with the loader's error code, or with one of its own codes
// below when it could not restrict its search for DLLs or was given bad arguments.

#include <string>
#include <vector>

#include "platform/DllLoadProbe.h"

inline constexpr wchar_t kLoadProbeSwitch[] = L"/LADEPROBE";
// Customer codes (bit 29 set): no Win32 error and no NTSTATUS has them.
inline constexpr int kLoadProbeBadArguments = 0x20004B01;
inline constexpr int kLoadProbeSearchUnrestricted = 0x20004B02;

class Win32DllLoadProbe : public DllLoadProbe {
 public:
  LoadProbeAnswer Probe(const std::wstring& path, const std::wstring& dependencyFolder) override;
};

// The probe's own side: when the first argument is the switch, checks the rest, loads the DLL,
// sets exitCode and answers true; otherwise answers false and the program goes on as usual.
bool RunDllLoadProbeSwitch(const std::vector<std::wstring>& arguments, int& exitCode);
