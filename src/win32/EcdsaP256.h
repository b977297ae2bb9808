#pragma once
// ECDSA on the curve P-256 with SHA-256 through CNG, in the forms of the signed release files
// (core/ReleaseFiles.h): a public key is base64 of its 64 bytes X||Y, a signature base64 of its
// 64 bytes r||s. A private key is CNG's own BCRYPT_ECCPRIVATE_BLOB (104 bytes), kept only in the
// file an administrator names.

#include <string>

#include "platform/ReleaseSignatures.h"

struct EcdsaP256KeyPair {
  std::string privateBlob;  // BCRYPT_ECCPRIVATE_BLOB: the secret
  std::string publicKey;    // base64 of X||Y
};

// A new key pair from CNG's random generator. Raises Exception when CNG fails.
EcdsaP256KeyPair MakeEcdsaP256KeyPair();

// The public key (base64 of X||Y) that belongs to a private blob. Raises Exception when the blob
// is no P-256 private key.
std::string PublicKeyOfPrivateBlob(const std::string& privateBlob);

// Signs the SHA-256 of message; answers base64 of r||s. Raises Exception when the blob is no P-256
// private key or CNG fails.
std::string SignEcdsaP256(const std::string& privateBlob, const std::string& message);

// The release files' verifier on CNG.
class CngReleaseSignatures : public ReleaseSignatures {
 public:
  bool Verify(const std::string& publicKey, const std::string& message,
              const std::string& signature) override;
};
