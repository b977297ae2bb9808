#pragma once
// Conversions through the platform's code pages (WideCharToMultiByte, MultiByteToWideChar).

#include "platform/TextCodec.h"

class Win32TextCodec : public TextCodec {
 public:
  unsigned AnsiCodePage() override;
  std::string ToAnsi(const std::wstring& text) override;
  bool IsValidCodePage(unsigned codePage) override;
  // Under 65001 an invalid byte sequence fails; other code pages map every byte somehow.
  std::wstring Decode(unsigned codePage, const std::string& bytes) override;
};
