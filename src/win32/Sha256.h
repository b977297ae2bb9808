#pragma once
// SHA-256 through CNG (bcrypt).

#include <windows.h>

#include <string>

// Hashes what is fed in, in pieces. Raises Exception when CNG fails.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  void Add(const void* data, std::size_t bytes);
  // The 32 raw bytes of the digest; the hasher is spent afterwards.
  std::string Finish();

 private:
  void* algorithm_ = nullptr;
  void* hash_ = nullptr;
};
