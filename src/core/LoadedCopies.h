#pragma once
// Which processes still run an old copy of the target DLL after an exchange. The loader keeps the
// name a module was loaded under even after its file was renamed aside, so a name proves nothing:
// a mapped module counts as the new DLL only when the file it was mapped from is one of the new
// set by its identity (volume and file index) and its mapped resources equal that file's.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A file by its volume and its index on it: kept across renames, different for every file.
struct MappedFileId {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const MappedFileId& other) const {
    return volume == other.volume && index == other.index;
  }
};

// One module of one process, as the platform found it.
struct MappedModule {
  std::uint32_t processId = 0;
  std::wstring image;        // the process's image file name, without its folder
  std::wstring commandLine;  // the process's command line; empty when it could not be read
  std::wstring loaderName;   // the path the module was loaded under
  // The file the mapping leads to now, and whether the mapped resources equal that file's; unset
  // when the file could not be opened or compared.
  std::optional<MappedFileId> file;
  bool sameContent = false;
};

// A process that maps an old copy, for the run log.
struct OldCopyHolder {
  std::uint32_t processId = 0;
  std::wstring image;
  std::wstring pool;  // empty when not known
};

// What the exchange knows: the identities of every target before the swaps (the old files, which
// keep their identity when renamed aside to a backup) and after them (the new set, including a
// newer copy that stayed).
struct CopyIdentities {
  std::vector<std::wstring> targets;
  std::vector<MappedFileId> oldFiles;
  std::vector<MappedFileId> newFiles;
};

// The processes, each once and in the order found, that map an old copy: a module loaded under a
// target's path (without regard to case), or mapped from one of the old files, that is not
// proven to be a file of the new set. A module elsewhere that is no old file is another
// application's and does not count.
std::vector<OldCopyHolder> ProcessesWithOldCopy(const std::vector<MappedModule>& modules,
                                                const CopyIdentities& copies);

// The application pool of an IIS worker process from its command line: the argument after
// "-ap", without its double quotes; empty when there is none.
std::wstring PoolOfWorker(const std::wstring& commandLine);

// "Alte DLL noch geladen: Prozess <id> (<image>, Anwendungspool <pool>)." (the pool part only
// when known).
std::wstring OldCopyLine(const OldCopyHolder& holder);
