#include "Models/ServiceRecordStore.h"

#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "platform/FileSystem.h"

ServiceRecordStore::ServiceRecordStore(FileSystem& files, std::wstring downloadFolder)
    : files_(files), path_(std::move(downloadFolder) + kServiceRecordsFileName) {}

ServiceRecords ServiceRecordStore::Load(std::vector<std::wstring>& ignored) {
  std::optional<OwnedFile> file;
  try {
    file = files_.ReadWholeWithOwner(path_);
  } catch (const Exception& e) {
    ignored.push_back(L"die Datei " + path_ + L" kann nicht gelesen werden: " + e.Message());
    return {};
  }
  if (!file) return {};
  if (file->linked) {
    ignored.push_back(L"die Datei " + path_ + L" ist ein Verweis oder hat weitere harte Links");
    return {};
  }
  if (!IsTrustedOwner(file->ownerSid, files_.OwnAccountSid())) {
    ignored.push_back(L"die Datei " + path_ + L" gehört " +
                      (file->ownerSid.empty() ? L"einem unbekannten Konto" : file->ownerSid));
    return {};
  }
  ParsedServiceRecords parsed = ParseServiceRecords(file->bytes);
  ignored.insert(ignored.end(), parsed.ignored.begin(), parsed.ignored.end());
  return parsed.records;
}

void ServiceRecordStore::Save(const ServiceRecords& records) {
  if (records == ServiceRecords{}) {
    files_.RemoveIfExists(path_);
    if (files_.FileExists(path_)) throw Exception(L"Die Datei " + path_ + L" bleibt bestehen.");
    return;
  }
  const std::wstring temp = path_ + L".neu";
  files_.RemoveIfExists(temp);
  try {
    files_.AppendDurably(temp, FormatServiceRecords(records));
    files_.ReplaceWith(temp, path_);
  } catch (...) {
    files_.RemoveIfExists(temp);
    throw;
  }
}
