#include "win32/AuthenticodeVerifier.h"

#include <windows.h>
// After windows.h, which they need.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "core/Exception.h"
#include "platform/FileSystem.h"
#include "win32/Sha256.h"
#include "win32/Win32Error.h"

namespace {

constexpr char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";  // szOID_PKIX_KP_CODE_SIGNING

// WinVerifyTrust with its state kept open until destruction, so the signer's chain stays valid.
class TrustState {
 public:
  // Reads through `file` when it is given: the bytes judged are those of that open file, whatever
  // the path names meanwhile.
  TrustState(const std::wstring& path, HANDLE file) : path_(path) {
    fileInfo_.cbStruct = sizeof(fileInfo_);
    fileInfo_.pcwszFilePath = path_.c_str();
    fileInfo_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &fileInfo_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }
  ~TrustState() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

  LONG Result() const { return result_; }
  // The first signer, or null when the signature names none.
  CRYPT_PROVIDER_SGNR* Signer() const {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
    if (provider == nullptr) return nullptr;
    return WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  }

 private:
  std::wstring path_;
  WINTRUST_FILE_INFO fileInfo_ = {};
  WINTRUST_DATA data_ = {};
  LONG result_ = 0;
};

DWORD AuthenticodePolicyError(PCCERT_CHAIN_CONTEXT chain) {
  CERT_CHAIN_POLICY_PARA para = {};
  para.cbSize = sizeof(para);
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &para, &status)) {
    return GetLastError();
  }
  return status.dwError;
}

// Only an enhanced key usage extension that names code signing counts: a certificate without
// the extension is "good for every use" to crypt32, which is not good enough here.
bool HasCodeSigningUsage(PCCERT_CONTEXT certificate) {
  DWORD bytes = 0;
  if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr,
                               &bytes)) {
    return false;
  }
  std::vector<unsigned char> buffer(bytes);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &bytes)) {
    return false;
  }
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (std::strcmp(usage->rgpszUsageIdentifier[i], kCodeSigningUsage) == 0) return true;
  }
  return false;
}

std::wstring Sha256Hex(const unsigned char* data, DWORD size) {
  Sha256Hasher hasher;
  hasher.Add(data, size);
  const std::string digest = hasher.Finish();
  return HexDigits(reinterpret_cast<const unsigned char*>(digest.data()), digest.size());
}

// CERT_SHA256_HASH_PROP_ID is not everywhere: the encoded key info is hashed here.
std::wstring PublicKeyDigest(PCCERT_CONTEXT certificate) {
  BYTE* encoded = nullptr;
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                           &certificate->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                           nullptr, &encoded, &size)) {
    RaiseSystemError(GetLastError());
  }
  try {
    std::wstring digest = Sha256Hex(encoded, size);
    LocalFree(encoded);
    return digest;
  } catch (...) {
    LocalFree(encoded);
    throw;
  }
}

}  // namespace

SignatureFacts AuthenticodeVerifier::Inspect(const std::wstring& file, HeldFile& held) {
  SignatureFacts facts;
  TrustState trust(file, static_cast<HANDLE>(held.SystemHandle()));
  facts.trustResult = static_cast<std::uint32_t>(trust.Result());
  if (trust.Result() != 0) return facts;
  CRYPT_PROVIDER_SGNR* signer = trust.Signer();
  if (signer == nullptr || signer->pChainContext == nullptr || signer->csCertChain == 0) {
    return facts;
  }
  CRYPT_PROVIDER_CERT* leaf = WTHelperGetProvCertFromChain(signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return facts;
  facts.signerFound = true;
  facts.chainErrors = signer->pChainContext->TrustStatus.dwErrorStatus;
  facts.policyError = AuthenticodePolicyError(signer->pChainContext);
  facts.codeSigningUsage = HasCodeSigningUsage(leaf->pCert);
  facts.signerKeyDigest = PublicKeyDigest(leaf->pCert);
  return facts;
}
