#include "Services/ServiceSwitches.h"

#include <cwctype>

ProgramMode ServiceSwitches::Mode() const {
  if (install) return ProgramMode::Install;
  if (uninstall) return ProgramMode::Uninstall;
  if (check) return ProgramMode::Check;
  if (update) return ProgramMode::Update;
  return ProgramMode::RunService;
}

bool IsSwitch(const std::wstring& argument, const std::wstring& word) {
  if (argument.size() != word.size() + 1) return false;
  if (argument[0] != L'-' && argument[0] != L'/') return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::towupper(argument[i + 1]) != std::towupper(word[i])) return false;
  }
  return true;
}

namespace {

bool HasSwitch(const std::vector<std::wstring>& arguments, const std::wstring& word) {
  for (const std::wstring& argument : arguments) {
    if (IsSwitch(argument, word)) return true;
  }
  return false;
}

}  // namespace

ServiceSwitches ParseServiceSwitches(const std::vector<std::wstring>& arguments) {
  ServiceSwitches switches;
  switches.install = HasSwitch(arguments, L"INSTALL");
  switches.uninstall = HasSwitch(arguments, L"UNINSTALL");
  switches.silent = HasSwitch(arguments, L"SILENT");
  switches.check = HasSwitch(arguments, L"CHECK");
  switches.update = HasSwitch(arguments, L"UPDATE");
  return switches;
}
