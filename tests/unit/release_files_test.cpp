#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "core/Exception.h"
#include "core/ReleaseFiles.h"
#include "core/RolloutBrake.h"
#include "core/ServiceRecords.h"
#include "core/Sha256Digest.h"

namespace {

constexpr std::int64_t kNow = 1'800'000'000;
const std::string kReleaseKey = "release-key";
const std::string kNextKey = "next-key";
const std::string kOnlineKey = "online-key";

std::string Digest(const std::string& bytes) {
  const Sha256Bytes d = Sha256Digest(bytes);
  return std::string(d.begin(), d.end());
}

// A stand-in for ECDSA: a signature is the key and the message's hash.
std::string Sign(const std::string& key, const std::string& message) {
  return key + "/" + ToHex(Digest(message));
}
bool Check(const std::string& key, const std::string& message, const std::string& signature) {
  return signature == Sign(key, message);
}

ReleaseInfo Release() {
  ReleaseInfo r;
  r.sequence = 7;
  r.version = L"2.1.0.1";
  r.url = L"https://127.0.0.1/KorvalAppServer.dll";
  r.size = 4096;
  r.sha256 = Digest("dll");
  r.publishedUnix = kNow - 3600;
  r.ramp = {{0, 1}, {2, 10}, {24, 50}, {48, 100}};
  r.timestampKeys = {kOnlineKey};
  r.expiresUnix = kNow + 8 * 7 * 86400;
  return r;
}

std::string Envelope(const std::string& payload, const std::string& key) {
  return FormatSignedEnvelope({payload, {Sign(key, payload)}});
}

TimestampInfo Timestamp(const std::string& releaseFile) {
  TimestampInfo t;
  t.sequence = 42;
  t.releaseSequence = 7;
  t.releaseSha256 = Digest(releaseFile);
  t.cap = 100;
  t.issuedUnix = kNow - 60;
  t.expiresUnix = kNow + 86400;
  return t;
}

struct Files {
  std::string release;
  std::string timestamp;
};

using ReleaseChange = std::function<void(ReleaseInfo&)>;
using TimestampChange = std::function<void(TimestampInfo&)>;

// A published pair, each payload changed before it is signed.
Files Publish(const ReleaseChange& releaseChange = {}, const TimestampChange& timestampChange = {},
              const std::string& releaseSigner = kReleaseKey,
              const std::string& timestampSigner = kOnlineKey) {
  ReleaseInfo r = Release();
  if (releaseChange) releaseChange(r);
  Files files;
  files.release = Envelope(FormatReleasePayload(r), releaseSigner);
  TimestampInfo t = Timestamp(files.release);
  if (timestampChange) timestampChange(t);
  files.timestamp = Envelope(FormatTimestampPayload(t), timestampSigner);
  return files;
}

TEST(ReleaseFiles, PayloadsSurviveTheirFormat) {
  const ReleaseInfo r = [] {
    ReleaseInfo release = Release();
    release.revoked = {L"2.1.0.0"};
    release.patches = {{Digest("2.1.0.0"), L"https://127.0.0.1/p/2.1.0.0.zst", 1234, Digest("p")}};
    return release;
  }();
  EXPECT_EQ(ParseReleasePayload(FormatReleasePayload(r)), r);
  const TimestampInfo t = Timestamp("x");
  EXPECT_EQ(ParseTimestampPayload(FormatTimestampPayload(t)), t);
  const SignedEnvelope e{"{\"a\": \"ü\\n\"}", {"s1", "s2"}};
  const SignedEnvelope back = ParseSignedEnvelope(FormatSignedEnvelope(e));
  EXPECT_EQ(back.payload, e.payload);
  EXPECT_EQ(back.signatures, e.signatures);
}

TEST(ReleaseFiles, PayloadsThatAreNotOursAreRefused) {
  const std::string good = FormatReleasePayload(Release());
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  const std::string cases[] = {
      "",
      "[]",
      with("\"art\":\"release\"", "\"art\":\"zeitstempel\""),
      with("\"version\":\"2.1.0.1\"", "\"version\":\"2.1.0\""),
      with("\"version\":\"2.1.0.1\"", "\"version\":\"2.1.0.70000\""),
      with("\"sequenz\":7", "\"sequenz\":-7"),
      with("\"sequenz\":7", "\"sequenz\":\"7\""),
      with("\"groesse\":4096", "\"groesse\":0"),
      with("\"url\":\"https", "\"url\":\"file"),
      with("[2,10]", "[2,0]"),    // a ramp that falls
      with("[24,50]", "[1,50]"),  // hours out of order
      with("[48,100]", "[48,101]"),
      with("\"sha256\":\"", "\"sha256\":\"0"),
      with("\"ablauf\":", "\"ablaufX\":"),
  };
  for (const std::string& text : cases) {
    EXPECT_THROW(ParseReleasePayload(text), Exception) << text;
  }
  EXPECT_THROW(ParseSignedEnvelope("{\"inhalt\": \"x\", \"signaturen\": []}"), Exception);
  ReleaseInfo withPatch = Release();
  withPatch.patches = {{Digest("a"), L"file:///c:/patch.zst", 10, Digest("p")}};
  EXPECT_THROW(ParseReleasePayload(FormatReleasePayload(withPatch)), Exception);
}

// Every check of the timestamp and the release file, and the attacks they stop.
TEST(ReleaseFiles, EveryCheckRefusesItsAttack) {
  const std::vector<std::string> releaseKeys{kReleaseKey, kNextKey};
  const std::vector<std::string> timestampKeys{kReleaseKey, kNextKey, kOnlineKey};
  const ReleaseState known{40, 6, Digest("older release")};
  struct Case {
    const char* name;
    Files files;
    ReleaseState stored;
    std::int64_t now;
    std::wstring refusal;  // empty: both files accepted
  };
  const Files good = Publish();
  Files oversizeTimestamp = good;
  oversizeTimestamp.timestamp += std::string(kMaxTimestampFileBytes, ' ');
  Files oversizeRelease = good;
  oversizeRelease.release += std::string(kMaxReleaseFileBytes, ' ');
  Files flipped = good;
  flipped.release[flipped.release.find("2.1.0.1")] = '3';
  Files otherRelease = good;  // mix and match: another, validly signed release file
  otherRelease.release = Publish([](ReleaseInfo& r) { r.size = 1; }).release;
  const Case cases[] = {
      {"accepted", good, known, kNow, L""},
      {"first contact", good, {}, kNow, L""},
      {"next release key", Publish({}, {}, kNextKey), known, kNow, L""},
      {"timestamp by the release key", Publish({}, {}, kReleaseKey, kReleaseKey), known, kNow, L""},
      {"timestamp too big", oversizeTimestamp, known, kNow, L"Zeitstempel zu groß"},
      {"timestamp by a foreign key", Publish({}, {}, kReleaseKey, "foreign"), known, kNow,
       L"Zeitstempel: Signatur ungültig"},
      {"replayed timestamp", good, {43, 6, ""}, kNow, L"Zeitstempel älter als bekannt"},
      {"timestamp naming an older release",
       good,
       {40, 8, ""},
       kNow,
       L"Zeitstempel älter als bekannt"},
      {"freeze: expired timestamp", good, known, kNow + 86400 + 3 * 3600,
       L"Zeitstempel veraltet: abgelaufen vor 3 Stunden"},
      {"release too big", oversizeRelease, known, kNow, L"Releasedatei zu groß"},
      {"changed release", flipped, known, kNow, L"Releasedatei gehört nicht zum Zeitstempel"},
      {"mix and match", otherRelease, known, kNow, L"Releasedatei gehört nicht zum Zeitstempel"},
      {"release by a foreign key", Publish({}, {}, "foreign"), known, kNow,
       L"Releasedatei: Signatur ungültig"},
      {"release by the online key", Publish({}, {}, kOnlineKey), known, kNow,
       L"Releasedatei: Signatur ungültig"},
      {"timestamp naming another sequence",
       Publish({}, [](TimestampInfo& t) { t.releaseSequence = 8; }), known, kNow,
       L"Releasedatei gehört nicht zum Zeitstempel: Folgenummer 7"},
      {"an older release, none newer known",
       Publish([](ReleaseInfo& r) { r.sequence = 5; },
               [](TimestampInfo& t) { t.releaseSequence = 5; }),
       {40, 5, ""},
       kNow,
       L""},
      {"expired release", Publish([](ReleaseInfo& r) { r.expiresUnix = kNow; }), known, kNow,
       L"Releasedatei veraltet"},
  };
  for (const Case& c : cases) {
    std::wstring refusal;
    const TimestampVerdict t =
        CheckTimestamp(c.files.timestamp, timestampKeys, c.stored, c.now, Check);
    if (t.refusal) {
      refusal = t.refusal->reason;
    } else {
      const ReleaseVerdict r =
          CheckRelease(c.files.release, *t.timestamp, releaseKeys, c.stored, c.now, Check);
      if (r.refusal) refusal = r.refusal->reason;
    }
    if (c.refusal.empty()) {
      EXPECT_EQ(refusal, L"") << c.name;
    } else {
      EXPECT_EQ(refusal.rfind(c.refusal, 0), 0u) << c.name;
    }
  }
  // A replayed release is refused once a newer one is known, even under a fresh timestamp.
  const Files replay = Publish([](ReleaseInfo& r) { r.sequence = 5; },
                               [](TimestampInfo& t) { t.releaseSequence = 5; });
  const TimestampVerdict t =
      CheckTimestamp(replay.timestamp, timestampKeys, {40, 0, ""}, kNow, Check);
  ASSERT_TRUE(t.timestamp);
  const ReleaseVerdict r =
      CheckRelease(replay.release, *t.timestamp, releaseKeys, known, kNow, Check);
  ASSERT_TRUE(r.refusal);
  EXPECT_EQ(r.refusal->reason, L"Releasedatei älter als bekannt: Folgenummer 5, bekannt 6.");
}

TEST(ReleaseFiles, ReleaseKeysTakeOneOrTwoBase64Keys) {
  const std::wstring key(86, L'A');
  EXPECT_EQ(ParseReleaseKeys(key + L"=="), std::vector<std::string>{std::string(86, 'A') + "=="});
  EXPECT_EQ(ParseReleaseKeys(L" " + key + L"== ; " + key + L"==").size(), 2u);
  for (const std::wstring& bad :
       {std::wstring(L""), key + L"=", key + L"==;" + key + L"==;" + key + L"==",
        key.substr(1) + L"*==", key + L"==;", key.substr(1) + L"B=="}) {
    EXPECT_THROW(ParseReleaseKeys(bad), Exception) << bad.size();
  }
}

TEST(RolloutBrake, RampAndCapDecide) {
  const ReleaseInfo r = Release();  // published an hour before kNow: 1 %
  struct Case {
    std::int64_t hoursSincePublication;
    int expectedRamp;
  };
  const Case ramp[] = {{-1, 0}, {0, 1}, {1, 1}, {2, 10}, {23, 10}, {24, 50}, {48, 100}, {900, 100}};
  for (const Case& c : ramp) {
    EXPECT_EQ(
        RampPercent(r.ramp, r.publishedUnix, r.publishedUnix + c.hoursSincePublication * 3600),
        c.expectedRamp)
        << c.hoursSincePublication;
  }
  EXPECT_EQ(RampPercent({}, kNow, kNow - 5), 100);
  // The hourly fetch: the next slot at the host's offset, never the same second again.
  const std::tuple<std::int64_t, std::uint32_t, std::int64_t> slots[] = {
      {0, 600, 600},  {599, 600, 600},     {600, 600, 4200},
      {-1, 600, 600}, {-3001, 600, -3000}, {-3000, 600, 600}};
  for (const auto& [after, offset, next] : slots) {
    EXPECT_EQ(NextTimestampSlot(after, offset, 3600), next) << after;
  }

  // The bucket is stable, differs by version, and spreads a fleet evenly.
  EXPECT_EQ(RolloutBucket(L"host-1", L"2.1.0.1"), RolloutBucket(L"host-1", L"2.1.0.1"));
  int below10 = 0, sameForNext = 0;
  for (int h = 0; h < 10000; ++h) {
    const int bucket = RolloutBucket(L"host-" + std::to_wstring(h), L"2.1.0.1");
    ASSERT_GE(bucket, 0);
    ASSERT_LT(bucket, 100);
    below10 += bucket < 10;
    sameForNext += bucket == RolloutBucket(L"host-" + std::to_wstring(h), L"2.1.0.2");
  }
  EXPECT_NEAR(below10, 1000, 150);
  EXPECT_LT(sameForNext, 300);

  // At 50 % on the ramp a cap of 20 lets 20 % in; a cap of 0 halts everybody.
  const std::int64_t at24 = r.publishedUnix + 24 * 3600;
  int installs20 = 0, installs0 = 0;
  for (int h = 0; h < 10000; ++h) {
    const std::wstring host = L"host-" + std::to_wstring(h);
    const RolloutDecision capped = DecideRollout(host, r, 20, at24);
    EXPECT_EQ(capped.percent, 20);
    EXPECT_EQ(capped.install, capped.bucket < 20);
    installs20 += capped.install;
    const RolloutDecision halted = DecideRollout(host, r, 0, at24);
    EXPECT_TRUE(halted.halted);
    installs0 += halted.install;
  }
  EXPECT_NEAR(installs20, 2000, 250);
  EXPECT_EQ(installs0, 0);
}

}  // namespace
