#pragma once
// An in-memory INI file behind the ProfileReader seam. Sections and keys match without regard to
// (ASCII) case, values are cut to 2,047 characters like the platform's reader, and every call is
// recorded in order so a test can assert what was read and when. The file name of a call is
// recorded but does not select content: the fake holds one file, present unless Clear() empties it.

#include <map>
#include <string>
#include <vector>

#include "platform/ProfileReader.h"

class FakeProfileReader : public ProfileReader {
 public:
  struct Call {
    enum class Kind { ReadString, ValueExists, Flush };
    Kind kind;
    std::wstring file;
    std::wstring section;
    std::wstring key;
    std::wstring defaultValue;
  };

  // Sets a key; a later Set of the same key (in any letter case) replaces the value.
  void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value);
  void Remove(const std::wstring& section, const std::wstring& key);
  // Makes every key missing, as with no file at all.
  void Clear();

  std::wstring ReadString(const std::wstring& file, const std::wstring& section,
                          const std::wstring& key, const std::wstring& defaultValue) override;
  bool ValueExists(const std::wstring& file, const std::wstring& section,
                   const std::wstring& key) override;
  void Flush(const std::wstring& file) override;

  const std::vector<Call>& Calls() const { return calls_; }
  // The calls as short lines ("ReadString VERZEICHNISSE/IISSITENAME", "ValueExists
  // VERZEICHNISSE/DLLPFAD1", "Flush"), for comparing the order of reading in one assertion.
  std::vector<std::wstring> CallLog() const;
  int FlushCount() const;
  void ClearCalls() { calls_.clear(); }

 private:
  static std::wstring Fold(const std::wstring& name);
  static std::wstring Id(const std::wstring& section, const std::wstring& key);

  std::map<std::wstring, std::wstring> values_;  // Id(section, key) -> value
  std::vector<Call> calls_;
};
