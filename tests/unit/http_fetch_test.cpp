#include <gtest/gtest.h>

#include "core/Exception.h"
#include "Models/VersionFetch.h"
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
  script.Redirect(301, L"https://mirror:8080/a/b/c")
      .Redirect(302, L"d?x=1")
      .Redirect(303, L"//cdn/e")
      .Respond(200, "ok");
  Fetch(script);
  EXPECT_EQ(script.requestedUrls,
            (std::vector<std::wstring>{L"https://update.example/dir/KORVALAppDLLVersion.txt",
                                       L"https://mirror:8080/a/b/c",
                                       L"https://mirror:8080/a/b/d?x=1", L"https://cdn/e"}));
}

TEST(FetchFollowingRedirects, HttpStaysOpenToEveryRedirect) {
  HttpScript script;
  script.Redirect(302, L"http://plain/v.txt")
      .Redirect(302, L"https://secure/v.txt")
      .Respond(200, "1");
  FakeHttpSession session(script);
  FetchFollowingRedirects(session, ParseUrl(L"http://update.example/v.txt"), kMaxVersionBodyBytes);
  EXPECT_EQ(script.requestedUrls,
            (std::vector<std::wstring>{L"http://update.example/v.txt", L"http://plain/v.txt",
                                       L"https://secure/v.txt"}));
}

// https is never left: neither by an absolute nor by a scheme-relative location, at any hop; the
// plain address is never requested.
TEST(FetchFollowingRedirects, NeverFollowsHttpsToHttp) {
  for (const std::wstring location : {L"http://update.example/v.txt", L"HTTP://evil:80/v.txt"}) {
    for (int hopsBefore = 0; hopsBefore <= 2; ++hopsBefore) {
      HttpScript script;
      for (int i = 0; i < hopsBefore; ++i) script.Redirect(302, L"/r" + std::to_wstring(i));
      script.Redirect(301, location).Respond(200, "never fetched");
      EXPECT_EQ(MessageOf(script).rfind(L"Umleitung von https auf eine unverschlüsselte Adresse "
                                        L"abgelehnt: \"http://",
                                        0),
                0u)
          << MessageOf(script);
      for (const auto& url : script.requestedUrls) EXPECT_EQ(url.rfind(L"https://", 0), 0u);
    }
  }
}

// Only the final body counts towards the limit, and the whole exchange shares one deadline.
TEST(FetchFollowingRedirects, ReadsOnlyTheFinalBodyWithinOneDeadline) {
  HttpScript script;
  script.Redirect(302, L"/next").Respond(200, "2.1.0.0");
  script.answers.front().response.body = std::string(70000, 'x');
  EXPECT_EQ(Fetch(script).body, "2.1.0.0");
  EXPECT_EQ(script.readings,
            (std::vector<BodyReading>{BodyReading::UnlessRedirect, BodyReading::UnlessRedirect}));
  EXPECT_EQ(script.totalTimeLimits, (std::vector<unsigned>{120000}));
}

TEST(FindFinalAddress, FollowsWithoutReadingAnyBodyAndNeverLeavesHttps) {
  HttpScript script;
  script.Redirect(302, L"/mirror/KorvalAppServer.dll").Respond(200, "MZ...");
  FakeHttpSession session(script);
  EXPECT_EQ(
      FindFinalAddress(session, ParseUrl(L"https://update.example/KorvalAppServer.dll")).ToString(),
      L"https://update.example/mirror/KorvalAppServer.dll");
  EXPECT_EQ(script.readings, (std::vector<BodyReading>{BodyReading::Never, BodyReading::Never}));
  HttpScript downgrade;
  downgrade.Redirect(302, L"http://update.example/KorvalAppServer.dll");
  FakeHttpSession second(downgrade);
  EXPECT_THROW(FindFinalAddress(second, ParseUrl(L"https://update.example/KorvalAppServer.dll")),
               Exception);
  EXPECT_EQ(downgrade.requestedUrls.size(), 1u);
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
