#pragma once
// The switches of the command line: registration, and the check and update an administrator or
// a script runs by hand.

#include <string>
#include <vector>

enum class ProgramMode { RunService, Install, Uninstall, Check, Update };

struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;  // hides the message of success only
  bool check = false;
  bool update = false;

  // INSTALL wins over UNINSTALL, both win over CHECK and UPDATE, and CHECK, which changes
  // nothing, wins over UPDATE; without any of them the process runs the service.
  ProgramMode Mode() const;
};

// Whether `argument` is the switch `word`: "-" or "/" followed by exactly the word, in any
// letter case.
bool IsSwitch(const std::wstring& argument, const std::wstring& word);

// The switches among `arguments` (the program's arguments without its own name). Switches may
// stand anywhere; every other argument is ignored.
ServiceSwitches ParseServiceSwitches(const std::vector<std::wstring>& arguments);
