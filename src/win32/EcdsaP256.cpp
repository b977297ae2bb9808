#include "win32/EcdsaP256.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <cstring>
#include <optional>

#include "win32/Base64.h"
#include "win32/ScopedHandle.h"
#include "win32/Sha256.h"
#include "win32/Win32Error.h"

namespace {

constexpr ULONG kCoordinateBytes = 32;
constexpr std::size_t kPublicBytes = 2 * kCoordinateBytes;     // X||Y
constexpr std::size_t kSignatureBytes = 2 * kCoordinateBytes;  // r||s
constexpr std::size_t kPrivateBlobBytes = sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinateBytes;

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueAlgorithm = ScopedHandle<AlgorithmTraits>;

struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { BCryptDestroyKey(h); }
};
using UniqueKey = ScopedHandle<KeyTraits>;

UniqueAlgorithm OpenEcdsaP256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  CheckCngStatus(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
  return UniqueAlgorithm(algorithm);
}

// Whether the status says success; CNG's failures are negative.
bool Succeeded(NTSTATUS status) { return status >= 0; }

std::string Sha256Of(const std::string& message) {
  Sha256Hasher hasher;
  hasher.Add(message.data(), message.size());
  return hasher.Finish();
}

BCRYPT_ECCKEY_BLOB HeaderOf(const std::string& blob) {
  BCRYPT_ECCKEY_BLOB header{};
  if (blob.size() >= sizeof(header)) std::memcpy(&header, blob.data(), sizeof(header));
  return header;
}

void RequirePrivateBlob(const std::string& blob) {
  const BCRYPT_ECCKEY_BLOB header = HeaderOf(blob);
  if (blob.size() != kPrivateBlobBytes || header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC ||
      header.cbKey != kCoordinateBytes) {
    throw Exception(L"Das ist kein privater ECDSA-P-256-Schlüssel (erwartet: " +
                    std::to_wstring(kPrivateBlobBytes) + L" Bytes eines BCRYPT_ECCPRIVATE_BLOB).");
  }
}

UniqueKey ImportKey(BCRYPT_ALG_HANDLE algorithm, const wchar_t* blobType, const std::string& blob) {
  BCRYPT_KEY_HANDLE key = nullptr;
  CheckCngStatus(BCryptImportKeyPair(algorithm, nullptr, blobType, &key,
                                     reinterpret_cast<PUCHAR>(const_cast<char*>(blob.data())),
                                     static_cast<ULONG>(blob.size()), 0));
  return UniqueKey(key);
}

// CNG's public blob of a key given as X||Y.
std::string PublicBlobOf(const std::string& publicPoint) {
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
  std::string blob(reinterpret_cast<const char*>(&header), sizeof(header));
  return blob + publicPoint;
}

std::optional<std::string> DecodeOfLength(const std::string& text, std::size_t bytes) {
  std::optional<std::string> decoded = DecodeBase64(text);
  if (!decoded || decoded->size() != bytes) return std::nullopt;
  return decoded;
}

}  // namespace

EcdsaP256KeyPair MakeEcdsaP256KeyPair() {
  UniqueAlgorithm algorithm = OpenEcdsaP256();
  BCRYPT_KEY_HANDLE generated = nullptr;
  CheckCngStatus(BCryptGenerateKeyPair(algorithm.Get(), &generated, 256, 0));
  UniqueKey key(generated);
  CheckCngStatus(BCryptFinalizeKeyPair(key.Get(), 0));
  ULONG size = 0;
  CheckCngStatus(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0));
  EcdsaP256KeyPair pair;
  pair.privateBlob.assign(size, '\0');
  CheckCngStatus(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                 reinterpret_cast<PUCHAR>(pair.privateBlob.data()), size, &size,
                                 0));
  pair.privateBlob.resize(size);
  pair.publicKey = PublicKeyOfPrivateBlob(pair.privateBlob);
  return pair;
}

std::string PublicKeyOfPrivateBlob(const std::string& privateBlob) {
  RequirePrivateBlob(privateBlob);
  return EncodeBase64(privateBlob.substr(sizeof(BCRYPT_ECCKEY_BLOB), kPublicBytes));
}

std::string SignEcdsaP256(const std::string& privateBlob, const std::string& message) {
  RequirePrivateBlob(privateBlob);
  UniqueAlgorithm algorithm = OpenEcdsaP256();
  UniqueKey key = ImportKey(algorithm.Get(), BCRYPT_ECCPRIVATE_BLOB, privateBlob);
  std::string digest = Sha256Of(message);
  std::string signature(kSignatureBytes, '\0');
  ULONG written = 0;
  CheckCngStatus(BCryptSignHash(key.Get(), nullptr, reinterpret_cast<PUCHAR>(digest.data()),
                                static_cast<ULONG>(digest.size()),
                                reinterpret_cast<PUCHAR>(signature.data()),
                                static_cast<ULONG>(signature.size()), &written, 0));
  if (written != kSignatureBytes) {
    throw Exception(L"CNG lieferte eine Signatur von " + std::to_wstring(written) +
                    L" statt 64 Bytes.");
  }
  return EncodeBase64(signature);
}

bool CngReleaseSignatures::Verify(const std::string& publicKey, const std::string& message,
                                  const std::string& signature) {
  try {
    const std::optional<std::string> point = DecodeOfLength(publicKey, kPublicBytes);
    std::optional<std::string> rs = DecodeOfLength(signature, kSignatureBytes);
    if (!point || !rs) return false;
    UniqueAlgorithm algorithm = OpenEcdsaP256();
    BCRYPT_KEY_HANDLE imported = nullptr;
    const std::string blob = PublicBlobOf(*point);
    // A point off the curve does not import: no key, no valid signature.
    if (!Succeeded(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported,
                                       reinterpret_cast<PUCHAR>(const_cast<char*>(blob.data())),
                                       static_cast<ULONG>(blob.size()), 0))) {
      return false;
    }
    UniqueKey key(imported);
    std::string digest = Sha256Of(message);
    return BCryptVerifySignature(key.Get(), nullptr, reinterpret_cast<PUCHAR>(digest.data()),
                                 static_cast<ULONG>(digest.size()),
                                 reinterpret_cast<PUCHAR>(rs->data()),
                                 static_cast<ULONG>(rs->size()), 0) == 0;
  } catch (...) {
    // CNG that cannot even hash verifies nothing.
    return false;
  }
}
