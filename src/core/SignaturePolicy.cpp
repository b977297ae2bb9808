#include "core/SignaturePolicy.h"

#include <algorithm>
#include <cwctype>

#include "core/Exception.h"

namespace {

constexpr std::size_t kDigestHexDigits = 64;
constexpr std::uint32_t kNoSignature = 0x800B0100;  // TRUST_E_NOSIGNATURE
constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003;

std::wstring Trimmed(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return L"";
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool IsDigest(const std::wstring& entry) {
  return entry.size() == kDigestHexDigits && std::all_of(entry.begin(), entry.end(), [](wchar_t c) {
           return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
         });
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring Hex32(std::uint32_t value) {
  const unsigned char bytes[] = {
      static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  std::wstring digits = HexDigits(bytes, 4);
  for (wchar_t& c : digits) c = static_cast<wchar_t>(std::towupper(c));
  return L"0x" + digits;
}

}  // namespace

std::vector<std::wstring> ParsePinnedDigests(const std::wstring& value) {
  std::vector<std::wstring> digests;
  if (Trimmed(value).empty()) return digests;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = value.find(L';', start);
    const std::wstring entry = Trimmed(value.substr(start, end - start));
    if (!IsDigest(entry)) {
      throw Exception(L"Der Wert von SIGNATURSCHLUESSEL ist ungültig: \"" + entry +
                      L"\" ist kein SHA-256-Wert aus 64 Hexadezimalziffern (mehrere Werte durch "
                      L"\";\" trennen)");
    }
    digests.push_back(Lower(entry));
    if (end == std::wstring::npos) return digests;
    start = end + 1;
  }
}

std::optional<std::wstring> SignatureRefusal(const SignatureFacts& facts,
                                             const std::vector<std::wstring>& pins) {
  if (facts.trustResult == kNoSignature || facts.trustResult == kSubjectFormUnknown) {
    return L"Die empfangene DLL ist nicht signiert.";
  }
  if (facts.trustResult != 0) {
    return L"Die Signatur der empfangenen DLL ist ungültig (" + Hex32(facts.trustResult) + L").";
  }
  if (!facts.signerFound) return L"Die Signatur der empfangenen DLL nennt keinen Unterzeichner.";
  if (facts.chainErrors != 0) {
    return L"Die Zertifikatskette der Signatur ist nicht vertrauenswürdig (" +
           Hex32(facts.chainErrors) + L").";
  }
  if (facts.policyError != 0) {
    return L"Die Signatur erfüllt die Authenticode-Richtlinie nicht (" + Hex32(facts.policyError) +
           L").";
  }
  if (!facts.codeSigningUsage) {
    return std::wstring(L"Das Zertifikat der Signatur ist nicht für Codesignaturen bestimmt.");
  }
  if (std::find(pins.begin(), pins.end(), Lower(facts.signerKeyDigest)) == pins.end()) {
    return L"Die empfangene DLL ist mit keinem zugelassenen Zertifikat signiert (Schlüssel " +
           facts.signerKeyDigest + L").";
  }
  return std::nullopt;
}

std::wstring HexDigits(const unsigned char* bytes, std::size_t count) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}
