#include "support/FakeVersionReader.h"

#include "core/Exception.h"

void FakeVersionReader::Set(const std::wstring& path, unsigned a, unsigned b, unsigned c,
                            unsigned d) {
  versions_[path] = ProductVersion{(a << 16) | b, (c << 16) | d};
}

void FakeVersionReader::SetFailure(const std::wstring& path, std::wstring message) {
  failures_[path] = std::move(message);
}

std::optional<ProductVersion> FakeVersionReader::ReadProductVersion(const std::wstring& path) {
  readPaths.push_back(path);
  auto failure = failures_.find(path);
  if (failure != failures_.end()) throw Exception(failure->second);
  auto found = versions_.find(path);
  if (found == versions_.end()) return std::nullopt;
  return found->second;
}
