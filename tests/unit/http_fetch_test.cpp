#include <gtest/gtest.h>

#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "support/FakeHttp.h"

namespace {

const Url kStart = ParseUrl(L"https://update.example/dir/KORVALAppDLLVersion.txt");

std::wstring MessageOf(HttpScript& script) {
  FakeHttpSession session(script);
  try {
    FetchFollowingRedirects(session, kStart, kMaxVersionBodyBytes);
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"<no exception>";
}

HttpResponse Fetch(HttpScript& script) {
  FakeHttpSession session(script);
  return FetchFollowingRedirects(session, kStart, kMaxVersionBodyBytes);
}

TEST(IsRedirectStatus, ExactlyTheFollowedStatuses) {
  for (int status = 100; status < 600; ++status) {
    bool expected = status == 300 || status == 301 || status == 302 || status == 303 ||
                    status == 307 || status == 308;
    EXPECT_EQ(IsRedirectStatus(status), expected) << status;
  }
}

TEST(FetchFollowingRedirects, OneGetWhenTheAnswerIsFinal) {
  HttpScript script;
  script.Respond(200, "2.1.0.0");
  HttpResponse response = Fetch(script);
  EXPECT_EQ(response.body, "2.1.0.0");
  EXPECT_EQ(script.requestedUrls,
            (std::vector<std::wstring>{L"https://update.example/dir/KORVALAppDLLVersion.txt"}));
  EXPECT_EQ(script.maxBodyBytes, (std::vector<std::size_t>{65536}));
}

class RedirectStatusTest : public ::testing::TestWithParam<int> {};

TEST_P(RedirectStatusTest, IsFollowedToTheResolvedLocation) {
  HttpScript script;
  script.Redirect(GetParam(), L"../v2.txt").Respond(200, "2.1.0.1");
  EXPECT_EQ(Fetch(script).body, "2.1.0.1");
  ASSERT_EQ(script.requestedUrls.size(), 2u);
  EXPECT_EQ(script.requestedUrls[1], L"https://update.example/v2.txt");
}

INSTANTIATE_TEST_SUITE_P(Statuses, RedirectStatusTest,
                         ::testing::Values(300, 301, 302, 303, 307, 308));

class FinalStatusTest : public ::testing::TestWithParam<int> {};

TEST_P(FinalStatusTest, EndsTheExchangeWithoutError) {
  HttpScript script;
  script.answers.push_back({});
  script.answers.back().response.status = GetParam();
  script.answers.back().response.location = L"/elsewhere";
  script.answers.back().response.body = "page";
  HttpResponse response = Fetch(script);
  EXPECT_EQ(response.status, GetParam());
  EXPECT_EQ(response.body, "page");
  EXPECT_EQ(script.requestedUrls.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, FinalStatusTest,
                         ::testing::Values(200, 201, 204, 304, 305, 306, 309, 401, 404, 407, 500));

TEST(FetchFollowingRedirects, ARedirectWithoutLocationIsFinal) {
  HttpScript script;
  script.Redirect(302, L"");
  EXPECT_EQ(Fetch(script).status, 302);
  EXPECT_EQ(script.requestedUrls.size(), 1u);
}

TEST(FetchFollowingRedirects, FollowsFiveRedirects) {
  HttpScript script;
  for (int i = 1; i <= 5; ++i) script.Redirect(302, L"/r" + std::to_wstring(i));
  script.Respond(200, "2.1.0.0");
  EXPECT_EQ(Fetch(script).body, "2.1.0.0");
  EXPECT_EQ(script.requestedUrls.size(), 6u);
  EXPECT_EQ(script.requestedUrls.back(), L"https://update.example/r5");
}

TEST(FetchFollowingRedirects, TheSixthRedirectFails) {
  HttpScript script;
  for (int i = 1; i <= 6; ++i) script.Redirect(307, L"/r" + std::to_wstring(i));
  script.Respond(200, "never fetched");
  EXPECT_EQ(MessageOf(script), L"Maximale Anzahl von Umleitungen (5) überschritten");
  EXPECT_EQ(script.requestedUrls.size(), 6u);
  EXPECT_EQ(script.answers.size(), 1u);
}

TEST(FetchFollowingRedirects, EachLocationResolvesAgainstTheUrlJustRequested) {
  HttpScript script;
  script.Redirect(301, L"http://mirror:8080/a/b/c")
      .Redirect(302, L"d?x=1")
      .Redirect(303, L"//cdn/e")
      .Respond(200, "ok");
  Fetch(script);
  EXPECT_EQ(script.requestedUrls,
            (std::vector<std::wstring>{L"https://update.example/dir/KORVALAppDLLVersion.txt",
                                       L"http://mirror:8080/a/b/c", L"http://mirror:8080/a/b/d?x=1",
                                       L"http://cdn/e"}));
}

TEST(FetchFollowingRedirects, TransportAndUrlFailuresPropagate) {
  HttpScript failing;
  failing.Redirect(302, L"/next").Fail(L"Fehler beim Senden der Daten: (12029) x");
  EXPECT_EQ(MessageOf(failing), L"Fehler beim Senden der Daten: (12029) x");
  HttpScript badLocation;
  badLocation.Redirect(302, L"ftp://elsewhere/v.txt");
  EXPECT_EQ(MessageOf(badLocation), L"Ungültiger URL: \"ftp://elsewhere/v.txt\"");
}

TEST(BodyTooLargeMessage, NamesTheLimit) {
  EXPECT_EQ(BodyTooLargeMessage(65536),
            L"Fehler beim Lesen der Daten: Die Antwort ist größer als 65536 Bytes");
}

}  // namespace
