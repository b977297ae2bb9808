// When a cut-off DLL download goes on where it stopped: the decision before the request, the
// judgement of the answer, the strict Content-Range, and the record kept beside the partial file.
#include <gtest/gtest.h>

#include <string>

#include "core/DownloadGuard.h"
#include "core/ResumeRule.h"

namespace {

const std::wstring kUrl = L"https://update.test/KorvalAppServer.dll";
const std::wstring kEtag = L"\"v2101-a7\"";

PartialRecord Held() { return PartialRecord{kUrl, kEtag, 1000, 400}; }

struct ResumeCase {
  const char* name;
  void (*change)(PartialRecord&, std::wstring& url, std::uint64_t& expected);
  bool resumes;
};

const ResumeCase kResumeCases[] = {
    {"the same release, a strong ETag", [](PartialRecord&, std::wstring&, std::uint64_t&) {}, true},
    {"the release's size is known and the same",
     [](PartialRecord&, std::wstring&, std::uint64_t& expected) { expected = 1000; }, true},
    {"an ETag of one visible character",
     [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag = L"\"x\""; }, true},
    {"a weak ETag", [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag = L"W/" + kEtag; },
     false},
    {"no ETag", [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag.clear(); }, false},
    {"an ETag without quotes",
     [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag = L"v2101-a7"; }, false},
    {"an ETag with a blank inside",
     [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag = L"\"v2101 a7\""; }, false},
    {"an ETag with a quote inside",
     [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag = L"\"v2\"101\""; }, false},
    {"an ETag with CR LF inside (a header of its own)",
     [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.etag = L"\"a\"\r\nX: \"b\""; }, false},
    {"a new release at another address",
     [](PartialRecord&, std::wstring& url, std::uint64_t&) {
       url = L"https://update.test/2.1.0.2/KorvalAppServer.dll";
     },
     false},
    {"a new release of another size",
     [](PartialRecord&, std::wstring&, std::uint64_t& expected) { expected = 1001; }, false},
    {"nothing held", [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.held = 0; }, false},
    {"everything held", [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.held = 1000; },
     false},
    {"more held than the whole",
     [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.held = 1001; }, false},
    {"the size not known", [](PartialRecord& r, std::wstring&, std::uint64_t&) { r.total = 0; },
     false},
};

TEST(ResumeRule, WhenTheNextAttemptAsksForTheRest) {
  for (const auto& c : kResumeCases) {
    SCOPED_TRACE(c.name);
    PartialRecord record = Held();
    std::wstring url = kUrl;
    std::uint64_t expected = 0;
    c.change(record, url, expected);
    EXPECT_EQ(MayResume(record, url, expected), c.resumes);
  }
}

TEST(ResumeRule, TheRequestAsksForTheRestByTheETag) {
  EXPECT_EQ(RangeRequestHeaders(Held()), L"Range: bytes=400-\r\nIf-Range: \"v2101-a7\"\r\n");
}

struct AnswerCase {
  const char* name;
  std::uint64_t askedFrom;
  int status;
  const wchar_t* contentRange;
  RangeAnswer judged;
};

// Asked from byte 400 of 1000 unless the row says 0 (the whole file, no Range).
const AnswerCase kAnswers[] = {
    {"206 with exactly the rest", 400, 206, L"bytes 400-999/1000", RangeAnswer::Continue},
    {"206 from another byte", 400, 206, L"bytes 0-999/1000", RangeAnswer::Refused},
    {"206 from a later byte", 400, 206, L"bytes 401-999/1000", RangeAnswer::Refused},
    {"206 with only a part of the rest", 400, 206, L"bytes 400-899/1000", RangeAnswer::Refused},
    {"206 with another total", 400, 206, L"bytes 400-1199/1200", RangeAnswer::Refused},
    {"206 with another total, same end", 400, 206, L"bytes 400-999/1001", RangeAnswer::Refused},
    {"206 without Content-Range", 400, 206, L"", RangeAnswer::Refused},
    {"206 with an unknown total", 400, 206, L"bytes 400-999/*", RangeAnswer::Refused},
    {"206 in another unit", 400, 206, L"items 400-999/1000", RangeAnswer::Refused},
    {"206 in upper case", 400, 206, L"BYTES 400-999/1000", RangeAnswer::Refused},
    {"206 with two blanks", 400, 206, L"bytes  400-999/1000", RangeAnswer::Refused},
    {"206 with a blank around the dash", 400, 206, L"bytes 400 -999/1000", RangeAnswer::Refused},
    {"206 with a trailing blank", 400, 206, L"bytes 400-999/1000 ", RangeAnswer::Refused},
    {"206 with a sign", 400, 206, L"bytes +400-999/1000", RangeAnswer::Refused},
    {"206 of several ranges", 400, 206, L"bytes 400-499/1000, 500-999/1000", RangeAnswer::Refused},
    {"206 nobody asked for", 0, 206, L"bytes 0-999/1000", RangeAnswer::Refused},
    {"200: the whole file again", 400, 200, L"", RangeAnswer::StartOver},
    {"200 to a request for the whole file", 0, 200, L"", RangeAnswer::StartOver},
    {"416", 400, 416, L"bytes */1000", RangeAnswer::Refused},
    {"503: no body, the partial file stays", 400, 503, L"", RangeAnswer::LeavesPartial},
    {"404: no body, the partial file stays", 400, 404, L"", RangeAnswer::LeavesPartial},
};

TEST(ResumeRule, HowTheAnswerIsJudged) {
  for (const auto& c : kAnswers) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgeRangeAnswer(c.askedFrom, 1000, c.status, c.contentRange), c.judged);
  }
}

TEST(ResumeRule, ContentRangeIsParsedStrictly) {
  const auto range = ParseContentRange(L"bytes 0-0/1");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 0u);
  EXPECT_EQ(range->last, 0u);
  EXPECT_EQ(range->total, 1u);
  const auto large = ParseContentRange(L"bytes 4294967296-9999999999999999998/9999999999999999999");
  ASSERT_TRUE(large);
  EXPECT_EQ(large->first, 4294967296u);
  for (const wchar_t* bad : {L"bytes 5-4/10", L"bytes 0-10/10", L"bytes 0-9/", L"bytes -9/10",
                             L"bytes 0-/10", L"bytes 0-9/10/10", L"bytes 0x1-9/10",
                             L"bytes 0-99999999999999999999/100000000000000000000",
                             L"bytes\t0-9/10", L"bytes */10", L"bytes=0-9/10", L""}) {
    EXPECT_FALSE(ParseContentRange(bad)) << std::wstring(bad);
  }
}

TEST(ResumeRule, WhatIsWorthKeepingAfterAnAttempt) {
  EXPECT_TRUE(WorthKeeping(Held()));
  PartialRecord weak = Held();
  weak.etag = L"W/\"v2101-a7\"";
  EXPECT_FALSE(WorthKeeping(weak));
  PartialRecord unknownSize = Held();
  unknownSize.total = 0;
  EXPECT_FALSE(WorthKeeping(unknownSize));
  PartialRecord nothing = Held();
  nothing.held = 0;
  EXPECT_FALSE(WorthKeeping(nothing));
}

TEST(ResumeRule, TheRecordReadsBackAsWritten) {
  const PartialRecord record{L"https://update.test/Größe/KorvalAppServer.dll", kEtag,
                             12345678901234ull, 42};
  const std::string text = FormatPartialRecord(record);
  EXPECT_EQ(text.substr(0, text.find('\n')), "KORVAL-TEILDOWNLOAD 1");
  const ParsedPartialRecord parsed = ParsePartialRecord(text);
  ASSERT_TRUE(parsed.record) << parsed.whyNot;
  EXPECT_EQ(*parsed.record, record);
}

TEST(ResumeRule, ARecordThatDoesNotParseGivesNone) {
  const std::string head = "KORVAL-TEILDOWNLOAD 1\n";
  const std::string url = "URL=https://update.test/KorvalAppServer.dll\n";
  const std::string etag = "ETAG=\"v1\"\n";
  const struct {
    const char* name;
    std::string text;
  } bad[] = {
      {"empty", ""},
      {"another header", "KORVAL-AUFZEICHNUNGEN 1\n" + url + etag + "GROESSE=10\nBYTES=5\n"},
      {"a key missing", head + url + etag + "GROESSE=10\n"},
      {"a key twice", head + url + etag + "GROESSE=10\nBYTES=5\nBYTES=5\n"},
      {"an unknown key", head + url + etag + "GROESSE=10\nBYTES=5\nMEHR=1\n"},
      {"a line without =", head + url + etag + "GROESSE=10\nBYTES=5\nfrei\n"},
      {"a weak ETag", head + url + "ETAG=W/\"v1\"\nGROESSE=10\nBYTES=5\n"},
      {"a size with a sign", head + url + etag + "GROESSE=+10\nBYTES=5\n"},
      {"a size beyond 64 bits", head + url + etag + "GROESSE=99999999999999999999\nBYTES=5\n"},
      {"bytes held beyond the size", head + url + etag + "GROESSE=10\nBYTES=10\n"},
      {"no bytes held", head + url + etag + "GROESSE=10\nBYTES=0\n"},
      {"an empty URL", head + "URL=\n" + etag + "GROESSE=10\nBYTES=5\n"},
      {"a URL that is no UTF-8",
       head + "URL=https://update.test/\xFF\n" + etag + "GROESSE=10\nBYTES=5\n"},
      {"a URL with a control character",
       head + "URL=https://update.test/\x01\n" + etag + "GROESSE=10\nBYTES=5\n"},
      {"CR LF line ends",
       "KORVAL-TEILDOWNLOAD 1\r\nURL=https://update.test/a\r\nETAG=\"v1\"\r\n"
       "GROESSE=10\r\nBYTES=5\r\n"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    const ParsedPartialRecord parsed = ParsePartialRecord(c.text);
    EXPECT_FALSE(parsed.record);
    EXPECT_FALSE(parsed.whyNot.empty());
  }
}

TEST(ResumeRule, TheBytesHeldCountTowardTheSizeCapButNotTowardTheTime) {
  DownloadLimits limits;
  limits.maxBytes = 1000;
  DownloadGuard guard(kUrl, limits, 0);
  guard.CountHeld(400);
  EXPECT_FALSE(guard.OnProgress(600, 600, 1000)) << "400 held and 600 more is the whole file";
  DownloadGuard over(kUrl, limits, 0);
  over.CountHeld(400);
  EXPECT_EQ(over.OnProgress(0, 601, 1000).value_or(L""), L"Die DLL ist größer als 0 MiB.");
  DownloadGuard slow(kUrl, limits, 0);
  slow.CountHeld(999);
  EXPECT_TRUE(slow.OnProgress(0, 0, 130000)) << "held bytes are no progress of this attempt";
}

}  // namespace
