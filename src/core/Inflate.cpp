#include "core/Inflate.h"

#include <zlib.h>

#include "core/Exception.h"

namespace {

constexpr int kGzipWindowBits = 16 + MAX_WBITS;
constexpr int kZlibWindowBits = MAX_WBITS;

[[noreturn]] void RaiseDamaged(const std::wstring& coding) {
  throw Exception(L"Fehler beim Lesen der Daten: Die komprimierten Daten (" + coding +
                  L") sind ungültig");
}

[[noreturn]] void RaiseTooLarge(std::size_t maxBytes) {
  throw Exception(L"Fehler beim Lesen der Daten: Die entpackte Antwort ist größer als " +
                  std::to_wstring(maxBytes) + L" Bytes");
}

// Owns a z_stream for inflating; ends it on every path.
class Inflater {
 public:
  explicit Inflater(int windowBits) {
    if (inflateInit2(&stream_, windowBits) != Z_OK) throw Exception(L"zlib: inflateInit2");
  }
  ~Inflater() { inflateEnd(&stream_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
};

std::string Inflate(const std::string& body, int windowBits, const std::wstring& coding,
                    std::size_t maxBytes) {
  Inflater inflater(windowBits);
  z_stream& stream = inflater.stream();
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  // One byte more than allowed tells an oversized body from one of exactly maxBytes.
  std::string output(maxBytes + 1, '\0');
  stream.next_out = reinterpret_cast<Bytef*>(output.data());
  stream.avail_out = static_cast<uInt>(output.size());
  int status = inflate(&stream, Z_FINISH);
  std::size_t produced = output.size() - stream.avail_out;
  if (produced > maxBytes) RaiseTooLarge(maxBytes);
  if (status != Z_STREAM_END || stream.avail_in != 0) RaiseDamaged(coding);
  output.resize(produced);
  return output;
}

}  // namespace

std::string InflateContent(const std::wstring& contentEncoding, const std::string& body,
                           std::size_t maxBytes) {
  if (contentEncoding == L"gzip") return Inflate(body, kGzipWindowBits, contentEncoding, maxBytes);
  if (contentEncoding == L"deflate") {
    return Inflate(body, kZlibWindowBits, contentEncoding, maxBytes);
  }
  return body;
}
