#pragma once
// A text codec for tests with a settable ANSI code page. Code page 1252 is approximated by
// Latin-1 (U+0000..U+00FF are single bytes, everything else becomes '?'), which is exact for
// the German letters the system writes; 65001 is UTF-8 (unpaired surrogates become U+FFFD).

#include <string>

#include "core/UnicodeDecoding.h"  // EncodeUtf8, for building expectations
#include "platform/TextCodec.h"

class FakeTextCodec : public TextCodec {
 public:
  explicit FakeTextCodec(unsigned ansiCodePage = 1252) : ansiCodePage_(ansiCodePage) {}
  void SetAnsiCodePage(unsigned codePage) { ansiCodePage_ = codePage; }
  int ToAnsiCalls() const { return toAnsiCalls_; }

  unsigned AnsiCodePage() override { return ansiCodePage_; }
  std::string ToAnsi(const std::wstring& text) override;
  // 1252 and 28591 (as Latin-1), 20127 (ASCII) and 65001.
  bool IsValidCodePage(unsigned codePage) override;
  // Raises Exception for an unknown code page and for bytes that are no valid UTF-8 under 65001.
  std::wstring Decode(unsigned codePage, const std::string& bytes) override;

 private:
  unsigned ansiCodePage_;
  int toAnsiCalls_ = 0;
};
