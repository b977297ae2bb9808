#include "core/Url.h"

#include <gtest/gtest.h>

#include "core/Exception.h"

namespace {

struct ParseCase {
  const wchar_t* text;
  const wchar_t* scheme;
  const wchar_t* host;
  unsigned port;
  const wchar_t* pathAndQuery;
  const wchar_t* fragment;
};

class ParseUrlTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseUrlTest, SplitsTheParts) {
  const ParseCase& c = GetParam();
  Url url = ParseUrl(c.text);
  EXPECT_EQ(url.scheme, c.scheme);
  EXPECT_EQ(url.host, c.host);
  EXPECT_EQ(url.port, c.port);
  EXPECT_EQ(url.pathAndQuery, c.pathAndQuery);
  EXPECT_EQ(url.fragment, c.fragment);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ParseUrlTest,
    ::testing::Values(ParseCase{L"https://update.example/KORVALAppDLLVersion.txt", L"https",
                                L"update.example", 443, L"/KORVALAppDLLVersion.txt", L""},
                      ParseCase{L"http://127.0.0.1:8080/v.txt?x=1#top", L"http", L"127.0.0.1", 8080,
                                L"/v.txt?x=1", L"top"},
                      ParseCase{L"HTTP://Host", L"http", L"Host", 80, L"/", L""},
                      ParseCase{L"https://host:/a", L"https", L"host", 443, L"/a", L""},
                      ParseCase{L"http://host?q", L"http", L"host", 80, L"/?q", L""},
                      ParseCase{L"http://host#f", L"http", L"host", 80, L"/", L"f"},
                      ParseCase{L"http://[::1]:81/p", L"http", L"[::1]", 81, L"/p", L""}));

class InvalidUrlTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(InvalidUrlTest, RaisesWithTheUrlQuoted) {
  const std::wstring text = GetParam();
  try {
    ParseUrl(text);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Ungültiger URL: \"" + text + L"\"");
  }
}

INSTANTIATE_TEST_SUITE_P(Urls, InvalidUrlTest,
                         ::testing::Values(L"", L"update.example/v.txt", L"/v.txt",
                                           L"ftp://host/v.txt", L"http:/host", L"http://",
                                           L"http://:80/", L"http://host:0/", L"http://host:65536/",
                                           L"http://host:8x/", L"http://user@host/",
                                           L"http://[::1/"));

TEST(UrlToString, LeavesOutTheDefaultPortAndTheFragment) {
  EXPECT_EQ(ParseUrl(L"https://h:443/a#f").ToString(), L"https://h/a");
  EXPECT_EQ(ParseUrl(L"http://h:8080/a?b#f").ToString(), L"http://h:8080/a?b");
  EXPECT_EQ(ParseUrl(L"http://h:8080/a?b#f").ToStringWithFragment(), L"http://h:8080/a?b#f");
}

struct ResolveCase {
  const wchar_t* base;
  const wchar_t* location;
  const wchar_t* expected;  // with fragment
};

class ResolveRedirectTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveRedirectTest, ResolvesAgainstTheUrlRequested) {
  const ResolveCase& c = GetParam();
  EXPECT_EQ(ResolveRedirect(ParseUrl(c.base), c.location).ToStringWithFragment(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Redirects, ResolveRedirectTest,
                         ::testing::Values(
                             // absolute, with another scheme and port
                             ResolveCase{L"http://a/b/c/d?q", L"https://other:8443/x",
                                         L"https://other:8443/x"},
                             // scheme-relative keeps the scheme
                             ResolveCase{L"https://a/b", L"//other/x?y", L"https://other/x?y"},
                             // absolute path keeps scheme, host and port
                             ResolveCase{L"http://a:81/b/c?q", L"/x/y", L"http://a:81/x/y"},
                             ResolveCase{L"http://a/b/c", L"/x/../y/./z", L"http://a/y/z"},
                             // relative paths with dot segments
                             ResolveCase{L"http://a/b/c/d?q", L"g", L"http://a/b/c/g"},
                             ResolveCase{L"http://a/b/c/d?q", L"./g", L"http://a/b/c/g"},
                             ResolveCase{L"http://a/b/c/d?q", L"g/", L"http://a/b/c/g/"},
                             ResolveCase{L"http://a/b/c/d?q", L"../g", L"http://a/b/g"},
                             ResolveCase{L"http://a/b/c/d?q", L"../../g", L"http://a/g"},
                             ResolveCase{L"http://a/b/c/d?q", L"../../../../g", L"http://a/g"},
                             ResolveCase{L"http://a/b/c/d?q", L".", L"http://a/b/c/"},
                             ResolveCase{L"http://a/b/c/d?q", L"..", L"http://a/b/"},
                             ResolveCase{L"http://a/b/c/d?q", L"g?y", L"http://a/b/c/g?y"},
                             // query only keeps the path
                             ResolveCase{L"http://a/b/c/d?q", L"?y", L"http://a/b/c/d?y"},
                             // fragment of the request carried over when the location has none
                             ResolveCase{L"http://a/b/c#frag", L"/x", L"http://a/x#frag"},
                             ResolveCase{L"http://a/b/c#frag", L"http://o/x", L"http://o/x#frag"},
                             ResolveCase{L"http://a/b/c#frag", L"/x#own", L"http://a/x#own"},
                             ResolveCase{L"http://a/b/c?q", L"#own", L"http://a/b/c?q#own"},
                             // surrounding blanks of the header are no part of the location
                             ResolveCase{L"http://a/b", L"  /x ", L"http://a/x"}));

TEST(ResolveRedirect, AnUnservedSchemeIsAnInvalidUrl) {
  try {
    ResolveRedirect(ParseUrl(L"http://a/b"), L"ftp://a/x");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Ungültiger URL: \"ftp://a/x\"");
  }
}

}  // namespace
