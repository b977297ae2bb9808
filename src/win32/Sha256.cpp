#include "win32/Sha256.h"

#include <bcrypt.h>

#include "win32/Win32Error.h"

namespace {
constexpr DWORD kDigestBytes = 32;
}  // namespace

Sha256Hasher::Sha256Hasher() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  CheckCngStatus(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
  algorithm_ = algorithm;
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  if (status < 0) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
    CheckCngStatus(status);
  }
  hash_ = hash;
}

Sha256Hasher::~Sha256Hasher() {
  if (hash_ != nullptr) BCryptDestroyHash(hash_);
  if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void Sha256Hasher::Add(const void* data, std::size_t bytes) {
  CheckCngStatus(BCryptHashData(hash_, static_cast<PUCHAR>(const_cast<void*>(data)),
                                static_cast<ULONG>(bytes), 0));
}

std::string Sha256Hasher::Finish() {
  std::string digest(kDigestBytes, '\0');
  CheckCngStatus(BCryptFinishHash(hash_, reinterpret_cast<PUCHAR>(digest.data()), kDigestBytes, 0));
  return digest;
}
