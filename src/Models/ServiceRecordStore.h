#pragma once
// Reads and writes the records the service keeps between cycles (core/ServiceRecords.h) in its
// protected download folder. A file that another account could have written (owned by anybody
// but SYSTEM, the Administrators or the service's account, or reached through a link) is not
// read; neither is a line that does not parse.

#include <string>
#include <vector>

#include "core/ServiceRecords.h"

class FileSystem;

class ServiceRecordStore {
 public:
  ServiceRecordStore(FileSystem& files, std::wstring downloadFolder);

  // The records; what was left out is named in `ignored`, one reason each. Never raises.
  ServiceRecords Load(std::vector<std::wstring>& ignored);
  // Replaces the file whole: a temporary file, flushed, then renamed over it. Empty records
  // remove the file. Raises Exception when it cannot be written.
  void Save(const ServiceRecords& records);

 private:
  FileSystem& files_;
  std::wstring path_;
};
