#include "core/Exception.h"

const char* Exception::what() const noexcept {
  if (utf8_.empty()) {
    for (wchar_t w : message_) {
      auto c = static_cast<std::uint32_t>(w);
      if (c < 0x80) {
        utf8_ += static_cast<char>(c);
      } else if (c < 0x800) {
        utf8_ += static_cast<char>(0xC0 | (c >> 6));
        utf8_ += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        // Surrogates and characters beyond the BMP are rare in messages: shown as three bytes.
        utf8_ += static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
        utf8_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8_ += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }
  return utf8_.c_str();
}
