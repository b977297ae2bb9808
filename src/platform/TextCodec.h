#pragma once
// Conversions between Unicode text and the platform's narrow code pages.

#include <string>

class TextCodec {
 public:
  virtual ~TextCodec() = default;
  // The ANSI code page of the machine (GetACP on Windows).
  virtual unsigned AnsiCodePage() = 0;
  // Text in the ANSI code page; characters it cannot represent are replaced, never an error.
  virtual std::string ToAnsi(const std::wstring& text) = 0;
  // Whether the platform can decode this code page.
  virtual bool IsValidCodePage(unsigned codePage) = 0;
  // Bytes of the given code page as Unicode text. Raises Exception on a failure.
  virtual std::wstring Decode(unsigned codePage, const std::string& bytes) = 0;
};
