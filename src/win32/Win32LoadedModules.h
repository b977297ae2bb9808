#pragma once
// LoadedModules over the process and module lists of the host (psapi) and the files' identities.
//
// The mapped file is found by the mapping's name (GetMappedFileNameW), which Windows reports for
// the file as it is named now; Wine reports the name the file had when it was mapped, so the
// identity alone would take a renamed old copy for the new file there. The mapped resources are
// therefore compared with the file's as well.

#include "platform/LoadedModules.h"

class Win32LoadedModules : public LoadedModules {
 public:
  MappedFileId IdentityOf(const std::wstring& path) override;
  std::vector<MappedModule> ModulesNamed(const std::wstring& fileName) override;
};
