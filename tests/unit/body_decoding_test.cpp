#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

#include "Models/BodyDecoding.h"
#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "platform/TextCodec.h"
#include "support/ExceptionMessage.h"

namespace {

const std::wstring kNoMapping =
    L"Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden";

// Knows the Latin-1 code pages only; records which code page it was asked to decode.
class Latin1Codec : public TextCodec {
 public:
  unsigned AnsiCodePage() override { return 1252; }
  std::string ToAnsi(const std::wstring&) override { return {}; }
  bool IsValidCodePage(unsigned codePage) override {
    return codePage == 1252 || codePage == 28591 || codePage == 850;
  }
  std::wstring Decode(unsigned codePage, const std::string& bytes) override {
    decodedCodePages.push_back(codePage);
    std::wstring text;
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
  }
  std::vector<unsigned> decodedCodePages;
};

// Compresses with zlib: windowBits 16 + 15 gives gzip, 15 the zlib format.
std::string Compress(const std::string& data, int windowBits) {
  z_stream stream{};
  EXPECT_EQ(
      deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY),
      Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Gzip(const std::string& data) { return Compress(data, 16 + 15); }
std::string Zlib(const std::string& data) { return Compress(data, 15); }

// U+1F600 as wchar_t holds it: a surrogate pair where wchar_t has 16 bits.
std::wstring Emoji() {
  if (sizeof(wchar_t) == 2)
    return std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  return std::wstring(1, static_cast<wchar_t>(0x1F600));
}

HttpResponse Response(std::string body, std::wstring contentType = L"",
                      std::wstring contentEncoding = L"") {
  HttpResponse response;
  response.status = 200;
  response.body = std::move(body);
  response.contentType = std::move(contentType);
  response.contentEncoding = std::move(contentEncoding);
  return response;
}

// --- the charset parameter -----------------------------------------------------------------

struct CharsetCase {
  const wchar_t* contentType;
  const wchar_t* charset;
};

class CharsetParameterTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetParameterTest, Extracts) {
  EXPECT_EQ(CharsetParameter(GetParam().contentType), GetParam().charset)
      << testing::PrintToString(std::wstring(GetParam().contentType));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, CharsetParameterTest,
    ::testing::Values(CharsetCase{L"", L""}, CharsetCase{L"text/plain", L""},
                      CharsetCase{L"text/plain; charset=utf-8", L"utf-8"},
                      CharsetCase{L"text/plain;CharSet=ISO-8859-1", L"ISO-8859-1"},
                      CharsetCase{L"text/plain; charset = \t windows-1252 \r", L"windows-1252"},
                      CharsetCase{L"text/plain; charset='latin1'", L"latin1"},
                      CharsetCase{L"text/plain; charset=\"latin1\"", L"latin1"},
                      // single quotes first, then double quotes
                      CharsetCase{L"text/plain; charset='\"cp850\"'", L"cp850"},
                      CharsetCase{L"text/plain; charset=\"'cp850'\"", L"'cp850'"},
                      // only one pair of each is removed
                      CharsetCase{L"text/plain; charset=''x''", L"'x'"},
                      // the first part whose name begins with charset wins
                      CharsetCase{L"text/plain; charsetx=a; charset=b", L"a"},
                      CharsetCase{L"text/plain; format=flowed; charset=b; charset=c", L"b"},
                      CharsetCase{L"text/plain; xcharset=a", L""},
                      CharsetCase{L"text/plain; charset", L""},
                      CharsetCase{L"text/plain; charset=", L""}));

// --- decoding by charset -------------------------------------------------------------------

TEST(DecodeBody, NoCharsetIsUtf8AndKeepsBlanksAndLineBreaks) {
  Latin1Codec codec;
  EXPECT_EQ(DecodeBody(Response(" 2.1.0.0\r\n"), &codec, kMaxVersionBodyBytes), L" 2.1.0.0\r\n");
  EXPECT_EQ(DecodeBody(Response("2.1.0.0\n"), &codec, kMaxVersionBodyBytes), L"2.1.0.0\n");
  EXPECT_EQ(DecodeBody(Response("\t2.1"), &codec, kMaxVersionBodyBytes), L"\t2.1");
  EXPECT_TRUE(codec.decodedCodePages.empty());
}

TEST(DecodeBody, DropsTheUtf8ByteOrderMarkOnce) {
  EXPECT_EQ(DecodeBody(Response("\xEF\xBB\xBF"
                                "2.1.0.0"),
                       nullptr, 100),
            L"2.1.0.0");
  EXPECT_EQ(DecodeBody(Response("\xEF\xBB\xBF\xEF\xBB\xBF"
                                "2"),
                       nullptr, 100),
            L"\xFEFF"
            L"2");
  EXPECT_EQ(DecodeBody(Response("\xEF\xBB\xBF"
                                "2",
                                L"text/plain; charset=UTF-8"),
                       nullptr, 100),
            L"2");
}

TEST(DecodeBody, DecodesUtf8BeyondAscii) {
  std::wstring expected = L"\u00fc\u20ac" + Emoji();
  EXPECT_EQ(DecodeBody(Response("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"), nullptr, 100), expected);
}

class InvalidUtf8Test : public ::testing::TestWithParam<std::string> {};

TEST_P(InvalidUtf8Test, FailsWithTheMappingMessage) {
  EXPECT_EQ(MessageOf([&] { DecodeBody(Response(GetParam()), nullptr, 100); }), kNoMapping);
}

INSTANTIATE_TEST_SUITE_P(Sequences, InvalidUtf8Test,
                         ::testing::Values(std::string("2.1\xFC"),           // Latin-1 byte
                                           std::string("\x80"),              // stray continuation
                                           std::string("\xC3"),              // truncated end
                                           std::string("\xC3\x28"),          // missing continuation
                                           std::string("\xC0\xAF"),          // overlong
                                           std::string("\xE0\x80\xAF"),      // overlong
                                           std::string("\xED\xA0\x80"),      // surrogate
                                           std::string("\xF4\x90\x80\x80"),  // above U+10FFFF
                                           std::string("\xFF")));

TEST(DecodeBody, OtherCharsetsGoThroughTheCodecByCodePage) {
  Latin1Codec codec;
  EXPECT_EQ(DecodeBody(Response("2.1\xFC", L"text/plain; charset=ISO-8859-1"), &codec, 100),
            L"2.1\u00fc");
  EXPECT_EQ(DecodeBody(Response("x", L"text/plain; charset=windows-1252"), &codec, 100), L"x");
  EXPECT_EQ(DecodeBody(Response("x", L"text/plain; charset=CP850"), &codec, 100), L"x");
  EXPECT_EQ(codec.decodedCodePages, (std::vector<unsigned>{28591, 1252, 850}));
}

TEST(DecodeBody, Utf16AndUtf32AreDecodedByTheCore) {
  EXPECT_EQ(DecodeBody(Response(std::string("\xFF\xFE"
                                            "2\0.\0"
                                            "1\0",
                                            8),
                                L"text/plain; charset=utf-16"),
                       nullptr, 100),
            L"2.1");
  EXPECT_EQ(DecodeBody(Response(std::string("\0"
                                            "2\0.\0"
                                            "1",
                                            6),
                                L"text/plain; charset=utf-16BE"),
                       nullptr, 100),
            L"2.1");
  EXPECT_EQ(DecodeBody(Response(std::string("\x3D\xD8\x00\xDE", 4), L"text/plain;charset=utf-16le"),
                       nullptr, 100),
            Emoji());
  EXPECT_EQ(
      DecodeBody(Response(std::string("2\0\0\0", 4), L"text/plain;charset=utf-32"), nullptr, 100),
      L"2");
  EXPECT_EQ(MessageOf([] {
              DecodeBody(Response(std::string("2\0\0", 3), L"text/plain;charset=utf-16"), nullptr,
                         100);
            }),
            kNoMapping);
  EXPECT_EQ(MessageOf([] {
              DecodeBody(Response(std::string("\x00\xDC", 2), L"text/plain;charset=utf-16"),
                         nullptr, 100);
            }),
            kNoMapping);
  EXPECT_EQ(MessageOf([] {
              DecodeBody(Response(std::string("\x00\x00\x11\x00", 4), L"text/plain;charset=utf-32"),
                         nullptr, 100);
            }),
            kNoMapping);
}

class UnknownCharsetTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(UnknownCharsetTest, FailsWithTheNameMessage) {
  Latin1Codec codec;
  std::wstring contentType = std::wstring(L"text/plain; charset=") + GetParam();
  EXPECT_EQ(MessageOf([&] { DecodeBody(Response("2"), &codec, 100); }), L"<no exception>");
  EXPECT_EQ(MessageOf([&] { DecodeBody(Response("2", contentType), &codec, 100); }),
            L"Ungültiger Codierungsname");
  EXPECT_TRUE(codec.decodedCodePages.empty());
}

// "cp1251" is a valid name but the codec above cannot decode that code page.
INSTANTIATE_TEST_SUITE_P(Names, UnknownCharsetTest,
                         ::testing::Values(L"klingon", L"utf-7x", L"cp", L"cpabc", L"cp0",
                                           L"cp70000", L"cp1251", L"iso-8859-1x"));

TEST(DecodeBody, ACodePageNeedsACodec) {
  EXPECT_EQ(MessageOf([] { DecodeBody(Response("2", L"text/plain;charset=latin1"), nullptr, 9); }),
            L"Ungültiger Codierungsname");
}

// --- content coding --------------------------------------------------------------------------

TEST(DecodeBody, InflatesGzipAndDeflate) {
  EXPECT_EQ(DecodeBody(Response(Gzip("2.1.0.0"), L"", L"gzip"), nullptr, 100), L"2.1.0.0");
  EXPECT_EQ(DecodeBody(Response(Zlib("2.1.0.0"), L"", L"deflate"), nullptr, 100), L"2.1.0.0");
  // the charset applies to the inflated bytes
  Latin1Codec codec;
  EXPECT_EQ(DecodeBody(Response(Gzip("\xFC"), L"text/plain;charset=latin1", L"gzip"), &codec, 9),
            L"\u00fc");
}

TEST(DecodeBody, OnlyTheExactCodingNamesAreInflated) {
  std::string compressed = Gzip("2.1.0.0");
  EXPECT_EQ(MessageOf([&] { DecodeBody(Response(compressed, L"", L"GZIP"), nullptr, 100); }),
            kNoMapping);
  EXPECT_EQ(DecodeBody(Response("2.1", L"", L"identity"), nullptr, 100), L"2.1");
}

TEST(DecodeBody, DamagedCompressedDataFails) {
  std::string gz = Gzip("2.1.0.0");
  std::string truncated = gz.substr(0, gz.size() - 6);
  std::string trailing = gz + "x";
  const std::wstring prefix = L"Fehler beim Lesen der Daten: ";
  for (const std::string& body : {truncated, trailing, std::string("not gzip")}) {
    std::wstring message =
        MessageOf([&] { DecodeBody(Response(body, L"", L"gzip"), nullptr, 100); });
    EXPECT_EQ(message.substr(0, prefix.size()), prefix) << testing::PrintToString(message);
  }
  // a gzip stream is no zlib stream
  EXPECT_EQ(MessageOf([&] {
              DecodeBody(Response(gz, L"", L"deflate"), nullptr, 100);
            }).substr(0, prefix.size()),
            prefix);
}

TEST(DecodeBody, InflatedSizeIsLimited) {
  std::string exact(kMaxVersionBodyBytes, '7');
  EXPECT_EQ(DecodeBody(Response(Gzip(exact), L"", L"gzip"), nullptr, kMaxVersionBodyBytes).size(),
            kMaxVersionBodyBytes);
  std::string oneMore(kMaxVersionBodyBytes + 1, '7');
  EXPECT_EQ(MessageOf([&] {
              DecodeBody(Response(Zlib(oneMore), L"", L"deflate"), nullptr, kMaxVersionBodyBytes);
            }),
            L"Fehler beim Lesen der Daten: Die entpackte Antwort ist größer als 65536 Bytes");
}

TEST(DecodeBody, AnInflateBombStopsAtTheLimit) {
  // 16 MiB of zeros pack into about 16 KiB; only the limit's worth may ever be inflated.
  std::string zeros(16u << 20, '\0');
  std::string bomb = Gzip(zeros);
  zeros.clear();
  zeros.shrink_to_fit();
  ASSERT_LT(bomb.size(), kMaxVersionBodyBytes);
  EXPECT_EQ(
      MessageOf([&] { DecodeBody(Response(bomb, L"", L"gzip"), nullptr, kMaxVersionBodyBytes); }),
      L"Fehler beim Lesen der Daten: Die entpackte Antwort ist größer als 65536 Bytes");
}

}  // namespace
