#pragma once
// The registration switches of the command line.

#include <string>
#include <vector>

enum class ProgramMode { RunService, Install, Uninstall };

struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;  // hides the message of success only

  // INSTALL wins over UNINSTALL; without either the process runs the service.
  ProgramMode Mode() const;
};

// Whether `argument` is the switch `word`: "-" or "/" followed by exactly the word, in any
// letter case.
bool IsSwitch(const std::wstring& argument, const std::wstring& word);

// The switches among `arguments` (the program's arguments without its own name). Switches may
// stand anywhere; every other argument is ignored.
ServiceSwitches ParseServiceSwitches(const std::vector<std::wstring>& arguments);
