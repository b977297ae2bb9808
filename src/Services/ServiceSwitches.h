#pragma once
// The switches of the command line: registration, and the check and update an administrator or
// a script runs by hand.

#include <string>
#include <vector>

enum class ProgramMode { RunService, Install, Uninstall, Check, Update, Status, Usage };

struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;  // hides the message of success only
  bool check = false;
  bool update = false;
  bool status = false;
  // An argument that looks like a switch but is none of ours: a script's typing error must not
  // run anything.
  bool unknown = false;

  // An unknown switch wins over everything; then INSTALL over UNINSTALL, both over CHECK, UPDATE
  // and STATUS; CHECK, which changes nothing, over UPDATE, and STATUS, which only reads, over
  // both; without any of them the process runs the service.
  ProgramMode Mode() const;
};

// Exit code of an unknown switch: ERROR_INVALID_PARAMETER.
inline constexpr int kExitUsage = 87;

// Whether `argument` is the switch `word`: "-" or "/" followed by exactly the word, in any
// letter case.
bool IsSwitch(const std::wstring& argument, const std::wstring& word);

// The switches among `arguments` (the program's arguments without its own name). Switches may
// stand anywhere; an argument that begins with neither "-" nor "/" is ignored.
ServiceSwitches ParseServiceSwitches(const std::vector<std::wstring>& arguments);

// What an unknown switch prints, line by line.
std::vector<std::wstring> UsageText();
