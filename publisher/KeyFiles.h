#pragma once
// The key files of the release tool. A private key file holds CNG's private blob and nothing
// else; it is made once, readable by its maker, SYSTEM and the Administrators only, and never
// overwritten. A public key file holds the key's base64 text (X||Y) and a line break.

#include <string>

// A private key read from its file; its bytes are wiped from memory when it goes.
class PrivateKey {
 public:
  explicit PrivateKey(std::string blob);
  ~PrivateKey();
  PrivateKey(PrivateKey&& other) noexcept;
  PrivateKey(const PrivateKey&) = delete;
  PrivateKey& operator=(const PrivateKey&) = delete;
  PrivateKey& operator=(PrivateKey&&) = delete;

  // Signs message; base64 of r||s. The signature is checked against the public key before it
  // is handed out. Raises Exception when CNG fails.
  std::string Sign(const std::string& message) const;
  const std::string& PublicKey() const { return publicKey_; }

 private:
  std::string blob_;
  std::string publicKey_;
};

// Makes a key pair and writes both files, each created new (an existing file stays untouched and
// the call fails); answers the public key. Raises Exception, leaving neither file behind.
std::string WriteNewKeyPair(const std::wstring& privateKeyFile, const std::wstring& publicKeyFile);

// Raises Exception when the file cannot be read or holds no P-256 private key.
PrivateKey ReadPrivateKey(const std::wstring& file);

// The key's base64 text, without the line break. Raises Exception when the file cannot be read
// or holds no base64 of a 64-byte key.
std::string ReadPublicKey(const std::wstring& file);
