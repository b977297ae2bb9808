#pragma once
// The stored settings of the one service this program holds: what the Service Control Manager
// records at registration and what every status report carries.

#include <cstdint>

namespace ServiceSettings {

inline constexpr const wchar_t* Name = L"KORVAL_Update_Service";
inline constexpr const wchar_t* DisplayName = L"Dienst zum aktualisieren von KORVAL Inhalten.";
// The description value carries the display name's text.
inline constexpr const wchar_t* Description = DisplayName;

inline constexpr std::uint32_t ServiceType = 0x10;  // a Win32 service in a process of its own
inline constexpr std::uint32_t StartType = 2;       // automatic start
inline constexpr std::uint32_t ErrorControl = 1;    // normal
inline constexpr std::uint32_t WaitHintMilliseconds = 5000;

// The registry key that holds the service's settings, from the root of HKEY_LOCAL_MACHINE.
inline constexpr const wchar_t* RegistryKey =
    L"\\SYSTEM\\CurrentControlSet\\Services\\KORVAL_Update_Service";
inline constexpr const wchar_t* DescriptionValueName = L"Description";

}  // namespace ServiceSettings
