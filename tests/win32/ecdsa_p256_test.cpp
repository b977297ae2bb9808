#include <gtest/gtest.h>

#include <string>

#include "core/Exception.h"
#include "win32/Base64.h"
#include "win32/EcdsaP256.h"

namespace {

const std::string kMessage = "{\"art\":\"release\",\"sequenz\":7,\"version\":\"2.1.0.1\"}";

std::string FlipBit(std::string bytes, std::size_t byte, int bit) {
  bytes[byte] = static_cast<char>(bytes[byte] ^ (1 << bit));
  return bytes;
}

// The base64 text with one bit of its decoded bytes flipped.
std::string FlipDecodedBit(const std::string& text, std::size_t byte, int bit) {
  return EncodeBase64(FlipBit(*DecodeBase64(text), byte, bit));
}

TEST(Base64, EncodesOnOneLineAndDecodesOnlyItsOwnText) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case known[] = {
      {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {std::string("\xff\xfe\x00", 3), "//4A"}};
  for (const Case& c : known) {
    EXPECT_EQ(EncodeBase64(c.bytes), c.text);
    EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
  }
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string text = EncodeBase64(all + all + all);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);  // long texts stay on one line
  EXPECT_EQ(DecodeBase64(text), all + all + all);
  for (const char* other : {"Zg", "Zg=", "Zg===", " Zg==", "Zg==\r\n", "Zm9v\r\nYmFy", "Zm9v YmFy",
                            "Z!==", "Zh==", "=Zg="}) {
    EXPECT_FALSE(DecodeBase64(other).has_value()) << other;
  }
}

TEST(EcdsaP256, ASignatureVerifiesUnderItsKeyOnly) {
  const EcdsaP256KeyPair pair = MakeEcdsaP256KeyPair();
  EXPECT_EQ(pair.privateBlob.size(), 104u);
  EXPECT_EQ(DecodeBase64(pair.publicKey)->size(), 64u);
  EXPECT_EQ(PublicKeyOfPrivateBlob(pair.privateBlob), pair.publicKey);
  // The private blob carries the public point X||Y right after its 8-byte header.
  EXPECT_EQ(*DecodeBase64(pair.publicKey), pair.privateBlob.substr(8, 64));

  const std::string signature = SignEcdsaP256(pair.privateBlob, kMessage);
  EXPECT_EQ(DecodeBase64(signature)->size(), 64u);
  CngReleaseSignatures verifier;
  EXPECT_TRUE(verifier.Verify(pair.publicKey, kMessage, signature));
  // ECDSA draws a new nonce each time: another signature, just as valid.
  const std::string again = SignEcdsaP256(pair.privateBlob, kMessage);
  EXPECT_NE(again, signature);
  EXPECT_TRUE(verifier.Verify(pair.publicKey, kMessage, again));

  const EcdsaP256KeyPair other = MakeEcdsaP256KeyPair();
  EXPECT_NE(other.publicKey, pair.publicKey);
  struct Case {
    const char* name;
    std::string key, message, signature;
  };
  const Case refused[] = {
      {"message bit 0 of byte 0", pair.publicKey, FlipBit(kMessage, 0, 0), signature},
      {"message bit 7 of the last byte", pair.publicKey, FlipBit(kMessage, kMessage.size() - 1, 7),
       signature},
      {"message one byte longer", pair.publicKey, kMessage + " ", signature},
      {"empty message", pair.publicKey, "", signature},
      {"signature bit in r", pair.publicKey, kMessage, FlipDecodedBit(signature, 5, 3)},
      {"signature bit in s", pair.publicKey, kMessage, FlipDecodedBit(signature, 40, 0)},
      {"another key", other.publicKey, kMessage, signature},
      {"the other key's signature", pair.publicKey, kMessage,
       SignEcdsaP256(other.privateBlob, kMessage)},
      {"key bit flipped (off the curve)", FlipDecodedBit(pair.publicKey, 63, 0), kMessage,
       signature},
      {"key of zeros", EncodeBase64(std::string(64, '\0')), kMessage, signature},
      {"signature of zeros", pair.publicKey, kMessage, EncodeBase64(std::string(64, '\0'))},
      {"key of 63 bytes", EncodeBase64(DecodeBase64(pair.publicKey)->substr(1)), kMessage,
       signature},
      {"key of 65 bytes", EncodeBase64("\x04" + *DecodeBase64(pair.publicKey)), kMessage,
       signature},
      {"signature of 63 bytes", pair.publicKey, kMessage,
       EncodeBase64(DecodeBase64(signature)->substr(0, 63))},
      {"signature as DER length", pair.publicKey, kMessage,
       EncodeBase64(*DecodeBase64(signature) + std::string(8, '\0'))},
      {"key with a line break", pair.publicKey + "\r\n", kMessage, signature},
      {"signature without padding", pair.publicKey, kMessage,
       signature.substr(0, signature.size() - 2)},
      {"key no base64", "kein Schlüssel", kMessage, signature},
      {"empty key", "", kMessage, signature},
      {"empty signature", pair.publicKey, kMessage, ""},
  };
  for (const Case& c : refused) {
    EXPECT_FALSE(verifier.Verify(c.key, c.message, c.signature)) << c.name;
  }
}

TEST(EcdsaP256, OnlyAPrivateP256BlobSigns) {
  const EcdsaP256KeyPair pair = MakeEcdsaP256KeyPair();
  const std::string wrongMagic = FlipBit(pair.privateBlob, 0, 0);
  const std::string publicBlobSized = pair.privateBlob.substr(0, 72);
  for (const std::string& blob : {std::string(), pair.privateBlob.substr(1), wrongMagic,
                                  publicBlobSized, pair.privateBlob + "x"}) {
    EXPECT_THROW(SignEcdsaP256(blob, kMessage), Exception) << blob.size();
    EXPECT_THROW(PublicKeyOfPrivateBlob(blob), Exception) << blob.size();
  }
}

}  // namespace
