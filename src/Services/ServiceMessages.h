#pragma once
// The texts the service host writes to the event log and shows in its message boxes.

#include <cstdint>
#include <optional>
#include <string>

// "Service fehlgeschlagen bei <action>:<message>".
std::wstring ServiceFailedText(const std::wstring& action, const std::wstring& message);

// The action word of a control code in ServiceFailedText ("stop", "Pause", "Weiter",
// "interrogate", "shutdown"); none for a code of the service's own.
std::optional<std::wstring> ControlActionWord(std::uint32_t controlCode);

// The event-log text for an error that left the handling of control request `controlCode`.
std::wstring ControlFailedText(std::uint32_t controlCode, const std::wstring& message);

// Registration and removal, shown in message boxes.
std::wstring InstallSucceededText();
std::wstring UninstallSucceededText();
std::wstring InstallFailedText(const std::wstring& displayName, const std::wstring& message);
std::wstring UninstallFailedText(const std::wstring& displayName, const std::wstring& message);

// The text of the "Anwendungsfehler" box for an error nothing else caught: the error's class,
// the program file's name, the code address, and the message ending in a full stop.
std::wstring ApplicationErrorText(const std::wstring& className, const std::wstring& moduleName,
                                  std::uintptr_t codeAddress, const std::wstring& message);
inline constexpr const wchar_t* ApplicationErrorTitle = L"Anwendungsfehler";
