#pragma once
// The modules that the processes of this host have mapped, to prove which copy of the target DLL
// they run after an exchange.

#include <string>
#include <vector>

#include "core/LoadedCopies.h"

class LoadedModules {
 public:
  virtual ~LoadedModules() = default;
  // The identity of the file at path. Raises Exception when it cannot be opened.
  virtual MappedFileId IdentityOf(const std::wstring& path) = 0;
  // Every module, in every process that can be opened, whose loader name ends in fileName
  // (without regard to case), with the file its mapping leads to now. A process that ends or
  // cannot be opened meanwhile is left out. Raises Exception when the processes cannot be listed.
  virtual std::vector<MappedModule> ModulesNamed(const std::wstring& fileName) = 0;
};
