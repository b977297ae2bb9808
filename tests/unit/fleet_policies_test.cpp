#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/CivilTime.h"
#include "core/HostOffset.h"
#include "core/RetryPolicy.h"
#include "core/Sha256Digest.h"
#include "core/UpdateRing.h"

namespace {
std::string Hex(const Sha256Bytes& digest) {
  static const char* const kDigits = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : digest) text += {kDigits[b >> 4], kDigits[b & 15]};
  return text;
}

TEST(Sha256Digest, KnownVectors) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // 55 and 56 bytes: the length still fits the last block, and just no longer does.
      {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
      {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
  };
  for (const auto& [input, digest] : cases) EXPECT_EQ(Hex(Sha256Digest(input)), digest);
}

TEST(HostOffset, StableWithinRangeAndSpread) {
  EXPECT_EQ(HostOffsetSeconds(L"4c4c4544-0042-3510-8052-b4c04f4b4d32", 0), 0u);
  const std::uint32_t first = HostOffsetSeconds(L"4c4c4544-0042-3510-8052-b4c04f4b4d32", 60);
  EXPECT_EQ(HostOffsetSeconds(L"4c4c4544-0042-3510-8052-b4c04f4b4d32", 60), first);
  std::map<int, int> perMinute;
  for (int host = 0; host < 6000; ++host) {
    const std::uint32_t offset = HostOffsetSeconds(L"host-" + std::to_wstring(host), 60);
    ASSERT_LT(offset, 3600u);
    ++perMinute[offset / 60];
  }
  ASSERT_EQ(perMinute.size(), 60u);  // every minute has hosts: about 100 each
  for (const auto& [minute, hosts] : perMinute) {
    EXPECT_GT(hosts, 60) << minute;
    EXPECT_LT(hosts, 140) << minute;
  }
  EXPECT_EQ(FormatOffset(754), L"12:34");
  EXPECT_EQ(FormatOffset(3661), L"1:01:01");
}

TEST(RetryPolicy, DelaysDoubleFromFiveMinutesUpToTwoHoursWithFullJitter) {
  const std::int64_t bases[] = {300, 600, 1200, 2400, 4800, 7200, 7200};
  for (int n = 1; n <= 7; ++n) {
    EXPECT_EQ(RetryBaseSeconds(n), bases[n - 1]) << n;
    EXPECT_EQ(JitteredRetrySeconds(n, 0), 0);
    EXPECT_EQ(JitteredRetrySeconds(n, static_cast<std::uint64_t>(bases[n - 1])), bases[n - 1]);
    EXPECT_EQ(JitteredRetrySeconds(n, static_cast<std::uint64_t>(bases[n - 1]) + 1), 0);
  }
  EXPECT_EQ(RetryBaseSeconds(100), 7200);
  EXPECT_EQ(RetryAt(1, 1000, 0, 2000, 250), 1250);
  EXPECT_EQ(RetryAt(1, 1000, 1500, 2000, 250), 1500);       // the server's pause is longer
  EXPECT_EQ(RetryAt(2, 1000, 0, 1500, 500), std::nullopt);  // would run into the next window
  EXPECT_EQ(RetryAt(1, 1000, 2000, 2000, 0), std::nullopt);
}

TEST(RetryPolicy, RetryAfterSecondsAndDates) {
  // 2025-06-05 12:00:00 UTC
  const std::int64_t now = DaysFromCivil(2025, 6, 5) * 86400 + 12 * 3600;
  const std::pair<const wchar_t*, std::optional<std::int64_t>> cases[] = {
      {L"120", now + 120},
      {L" 86400 ", now + 86400},
      {L"86401", std::nullopt},  // further than a day: ignored
      {L"0", std::nullopt},
      {L"-5", std::nullopt},
      {L"12a", std::nullopt},
      {L"", std::nullopt},
      {L"99999999999999999999", std::nullopt},
      {L"Thu, 05 Jun 2025 12:30:00 GMT", now + 1800},
      {L"Thursday, 05-Jun-25 13:00:00 GMT", now + 3600},
      {L"Thu Jun  5 12:00:10 2025", now + 10},
      {L"Thu, 05 Jun 2025 11:00:00 GMT", std::nullopt},  // past
      {L"Sat, 07 Jun 2025 12:00:00 GMT", std::nullopt},  // two days ahead: ignored
      {L"Thu, 05 Jun 2025 12:30:00 CET", std::nullopt},
      {L"Thu, 05 Foo 2025 12:30:00 GMT", std::nullopt},
      {L"Thu, 05 Jun 2025 25:30:00 GMT", std::nullopt},
  };
  for (const auto& [text, until] : cases) EXPECT_EQ(RetryAfterUntil(text, now), until) << text;
  EXPECT_TRUE(IsComeBackLaterStatus(503));
  EXPECT_TRUE(IsComeBackLaterStatus(429));
  EXPECT_FALSE(IsComeBackLaterStatus(500));
}

TEST(UpdateRing, ClockStartsAtFirstSightAndAnewForAnotherVersion) {
  const std::int64_t t = 1'750'000'000;
  struct Case {
    const char* name;
    std::optional<SeenVersion> recorded;
    int delayHours;
    bool install;
    std::int64_t installFrom;
    SeenVersion kept;
  } cases[] = {
      {"no delay installs at once", std::nullopt, 0, true, t, {L"2.1.0.1", t}},
      {"first sight starts the clock", std::nullopt, 24, false, t + 86400, {L"2.1.0.1", t}},
      {"seen a day ago", SeenVersion{L"2.1.0.1", t - 86400}, 24, true, t, {L"2.1.0.1", t - 86400}},
      {"seen an hour ago",
       SeenVersion{L"2.1.0.1", t - 3600},
       24,
       false,
       t + 82800,
       {L"2.1.0.1", t - 3600}},
      {"another version starts anew",
       SeenVersion{L"2.1.0.0", t - 90000},
       24,
       false,
       t + 86400,
       {L"2.1.0.1", t}},
      {"a sighting in the future is not believed",
       SeenVersion{L"2.1.0.1", t + 999},
       1,
       false,
       t + 3600,
       {L"2.1.0.1", t}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RingDecision d = DecideRing(c.recorded, L"2.1.0.1", t, c.delayHours);
    EXPECT_EQ(d.install, c.install);
    EXPECT_EQ(d.installFrom, c.installFrom);
    EXPECT_EQ(d.record, c.kept);
  }
}

TEST(CivilTime, RoundTrip) {
  for (std::int64_t s : {0LL, 951782400LL + 86399, 1750000000LL, -86400LL}) {
    EXPECT_EQ(EpochSeconds(TimeFromEpochSeconds(s)), s);
  }
  const LocalTime leap = TimeFromEpochSeconds(DaysFromCivil(2024, 2, 29) * 86400 + 3661);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(leap.dayOfWeek, 4);  // a Thursday
  EXPECT_EQ(leap.second, 1);
}
}  // namespace
