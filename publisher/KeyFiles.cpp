#include "KeyFiles.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <memory>
#include <utility>

#include "win32/Base64.h"
#include "win32/EcdsaP256.h"
#include "win32/FileHandleIo.h"
#include "win32/ScopedHandle.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"
#include "win32/Win32FileSystem.h"

namespace {

constexpr std::size_t kMostKeyFileBytes = 4096;

void Wipe(std::string& secret) {
  if (!secret.empty()) SecureZeroMemory(secret.data(), secret.size());
  secret.clear();
}

// Creates path (never an existing one) and writes bytes through to the disk. access: an SDDL
// access list, or nullptr for the folder's inherited one. A file that was begun is removed.
void WriteNewFile(const std::wstring& path, const std::string& bytes, const wchar_t* access) {
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  std::unique_ptr<void, LocalMemoryDeleter> descriptor;
  if (access != nullptr) {
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, &converted,
                                                              nullptr)) {
      RaiseSystemError(GetLastError());
    }
    descriptor.reset(converted);
    attributes.lpSecurityDescriptor = converted;
  }
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS) {
      throw Exception(L"Die Datei " + path + L" gibt es schon; sie wird nicht überschrieben.");
    }
    RaiseSystemError(error);
  }
  try {
    WriteAll(file.Get(), bytes.data(), bytes.size());
    if (!FlushFileBuffers(file.Get())) RaiseSystemError(GetLastError());
  } catch (...) {
    file.Reset();
    DeleteFileW(path.c_str());
    throw;
  }
}

std::string ReadKeyFile(const std::wstring& file, const wchar_t* what) {
  try {
    return Win32FileSystem().ReadHead(file, kMostKeyFileBytes + 1);
  } catch (const Exception& e) {
    throw Exception(std::wstring(what) + L" " + file + L" ist nicht lesbar: " + e.Message());
  }
}

}  // namespace

PrivateKey::PrivateKey(std::string blob)
    : blob_(std::move(blob)), publicKey_(PublicKeyOfPrivateBlob(blob_)) {}

PrivateKey::~PrivateKey() { Wipe(blob_); }

PrivateKey::PrivateKey(PrivateKey&& other) noexcept
    : blob_(std::move(other.blob_)), publicKey_(std::move(other.publicKey_)) {
  Wipe(other.blob_);
}

std::string PrivateKey::Sign(const std::string& message) const {
  std::string signature = SignEcdsaP256(blob_, message);
  if (!CngReleaseSignatures().Verify(publicKey_, message, signature)) {
    throw Exception(L"Die neue Signatur lässt sich mit dem öffentlichen Schlüssel nicht prüfen.");
  }
  return signature;
}

std::string WriteNewKeyPair(const std::wstring& privateKeyFile, const std::wstring& publicKeyFile) {
  EcdsaP256KeyPair pair = MakeEcdsaP256KeyPair();
  // The maker, SYSTEM and the Administrators; nothing inherited from the folder.
  const std::wstring access = L"D:P(A;;FA;;;" + ProcessAccountSid() + L")(A;;FA;;;SY)(A;;FA;;;BA)";
  try {
    WriteNewFile(privateKeyFile, pair.privateBlob, access.c_str());
  } catch (...) {
    Wipe(pair.privateBlob);
    throw;
  }
  Wipe(pair.privateBlob);
  try {
    WriteNewFile(publicKeyFile, pair.publicKey + "\r\n", nullptr);
  } catch (...) {
    // A private key whose public half nobody has is of no use: it goes, before anybody saw it.
    DeleteFileW(privateKeyFile.c_str());
    throw;
  }
  return pair.publicKey;
}

PrivateKey ReadPrivateKey(const std::wstring& file) {
  std::string blob = ReadKeyFile(file, L"Der private Schlüssel");
  try {
    PublicKeyOfPrivateBlob(blob);
  } catch (const Exception& e) {
    Wipe(blob);
    throw Exception(L"Die Datei " + file + L" enthält keinen privaten Schlüssel. " + e.Message());
  }
  return PrivateKey(std::move(blob));
}

std::string ReadPublicKey(const std::wstring& file) {
  std::string text = ReadKeyFile(file, L"Der öffentliche Schlüssel");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  const std::optional<std::string> key = DecodeBase64(text);
  if (!key || key->size() != 64) {
    throw Exception(L"Die Datei " + file +
                    L" enthält keinen öffentlichen Schlüssel (Base64 von 64 Bytes).");
  }
  return text;
}
