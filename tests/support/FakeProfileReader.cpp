#include "support/FakeProfileReader.h"

namespace {

constexpr std::size_t kMaxValueChars = 2047;

}  // namespace

std::wstring FakeProfileReader::Fold(const std::wstring& name) {
  std::wstring folded = name;
  for (wchar_t& c : folded) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return folded;
}

// A section name cannot hold "]", so it separates the two parts without ambiguity.
std::wstring FakeProfileReader::Id(const std::wstring& section, const std::wstring& key) {
  return Fold(section) + L']' + Fold(key);
}

void FakeProfileReader::Set(const std::wstring& section, const std::wstring& key,
                            const std::wstring& value) {
  values_[Id(section, key)] = value;
}

void FakeProfileReader::Remove(const std::wstring& section, const std::wstring& key) {
  values_.erase(Id(section, key));
}

void FakeProfileReader::Clear() { values_.clear(); }

std::wstring FakeProfileReader::ReadString(const std::wstring& file, const std::wstring& section,
                                           const std::wstring& key,
                                           const std::wstring& defaultValue) {
  calls_.push_back({Call::Kind::ReadString, file, section, key, defaultValue});
  const auto found = values_.find(Id(section, key));
  const std::wstring& value = found == values_.end() ? defaultValue : found->second;
  return value.substr(0, kMaxValueChars);
}

bool FakeProfileReader::ValueExists(const std::wstring& file, const std::wstring& section,
                                    const std::wstring& key) {
  calls_.push_back({Call::Kind::ValueExists, file, section, key, L""});
  return values_.count(Id(section, key)) != 0;
}

void FakeProfileReader::Flush(const std::wstring& file) {
  calls_.push_back({Call::Kind::Flush, file, L"", L"", L""});
}

std::vector<std::wstring> FakeProfileReader::CallLog() const {
  std::vector<std::wstring> log;
  for (const Call& call : calls_) {
    switch (call.kind) {
      case Call::Kind::ReadString:
        log.push_back(L"ReadString " + call.section + L"/" + call.key);
        break;
      case Call::Kind::ValueExists:
        log.push_back(L"ValueExists " + call.section + L"/" + call.key);
        break;
      case Call::Kind::Flush:
        log.push_back(L"Flush");
        break;
    }
  }
  return log;
}

int FakeProfileReader::FlushCount() const {
  int count = 0;
  for (const Call& call : calls_) count += call.kind == Call::Kind::Flush ? 1 : 0;
  return count;
}
