#pragma once
// Product versions by path. A path not listed has no readable version; a path listed in
// failures raises Exception.

#include <map>
#include <string>
#include <vector>

#include "platform/VersionReader.h"

class FakeVersionReader : public VersionReader {
 public:
  // Lists path with the product version a.b.c.d.
  void Set(const std::wstring& path, unsigned a, unsigned b, unsigned c, unsigned d);
  void SetFailure(const std::wstring& path, std::wstring message);

  std::optional<ProductVersion> ReadProductVersion(const std::wstring& path) override;

  std::vector<std::wstring> readPaths;  // every path asked for, in order

 private:
  std::map<std::wstring, ProductVersion> versions_;
  std::map<std::wstring, std::wstring> failures_;
};
