#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "core/RolloutBrake.h"
#include "publisher/CheckReport.h"
#include "publisher/ReleaseToolArgs.h"

namespace {

using Args = std::vector<std::wstring>;

const Args kRelease{L"release",
                    L"r.key",
                    L"a.dll",
                    L"https://u/a.dll",
                    L"ordner",
                    L"--rampe",
                    L"0:1,2:10,24:50,48:100",
                    L"--zeitstempelschluessel",
                    L"o.pub"};

Args With(Args args, std::initializer_list<std::wstring> more) {
  args.insert(args.end(), more);
  return args;
}

ReleaseRequest ReleaseDefaults() {
  ReleaseRequest r;
  r.releaseKeyFile = L"r.key";
  r.dllFile = L"a.dll";
  r.dllUrl = L"https://u/a.dll";
  r.folder = L"ordner";
  r.ramp = {{0, 1}, {2, 10}, {24, 50}, {48, 100}};
  r.timestampKeyFiles = {L"o.pub"};
  r.patchUrl = L"https://u/patches/";
  return r;
}

TEST(ReleaseToolArgs, CommandLinesBecomeRequests) {
  ReleaseRequest full = ReleaseDefaults();
  full.sequence = 7;
  full.expiryWeeks = 12;
  full.revoked = {L"2.1.0.0", L"2.0.0.3"};
  full.publishedUnix = 1800000000;
  full.nextKeyFile = L"n.key";
  full.timestampKeyFiles = {L"o.pub", L"p.pub"};
  full.ramp = {{0, 100}};
  full.patchFrom = {L"alt1.dll", L"alt2.dll"};
  full.patchUrl = L"https://cdn/p/";
  TimestampRequest zeitstempel{L"o.key", L"ordner", std::nullopt, 24, std::nullopt};
  TimestampRequest capped{L"o.key", L"ordner", 20, 6, 1800000000};
  TimestampRequest halt{L"o.key", L"ordner", 0, 24, std::nullopt};
  TimestampRequest resume{L"o.key", L"ordner", 100, 24, std::nullopt};
  TimestampRequest resumeAt30{L"o.key", L"ordner", 30, 24, std::nullopt};
  CheckRequest check{L"ordner", L"k1;k2", std::nullopt, std::nullopt, 0, 0};
  CheckRequest host{L"ordner", L"k1", L"maschine-1", L"2.1.0.0", 42, 7};
  struct Case {
    Args args;
    ToolRequest expected;
  };
  const Case cases[] = {
      {{L"schluessel", L"a.key", L"a.pub"}, KeyPairRequest{L"a.key", L"a.pub"}},
      {{L"SCHLUESSEL", L"a.key", L"a.pub"}, KeyPairRequest{L"a.key", L"a.pub"}},
      {kRelease, ReleaseDefaults()},
      {{L"release",
        L"--zeitstempelschluessel",
        L"o.pub,p.pub",
        L"r.key",
        L"a.dll",
        L"https://u/a.dll",
        L"--Sequenz",
        L"7",
        L"ordner",
        L"--rampe",
        L"0:100",
        L"--ablauf-wochen",
        L"12",
        L"--zurueckgezogen",
        L"2.1.0.0,2.0.0.3",
        L"--veroeffentlicht",
        L"1800000000",
        L"--weiterer-schluessel",
        L"n.key",
        L"--patch-von",
        L"alt1.dll,alt2.dll",
        L"--patch-adresse",
        L"https://cdn/p"},
       full},
      {{L"zeitstempel", L"o.key", L"ordner"}, zeitstempel},
      {{L"zeitstempel", L"o.key", L"ordner", L"--deckel", L"20", L"--ablauf-stunden", L"6",
        L"--ausgestellt", L"1800000000"},
       capped},
      {{L"anhalten", L"o.key", L"ordner"}, halt},
      {{L"fortsetzen", L"o.key", L"ordner"}, resume},
      {{L"fortsetzen", L"o.key", L"ordner", L"--deckel", L"30"}, resumeAt30},
      {{L"pruefen", L"ordner", L"k1;k2"}, check},
      {{L"pruefen", L"ordner", L"k1", L"--maschine", L"maschine-1", L"--version", L"2.1.0.0",
        L"--bekannte-zeitstempelsequenz", L"42", L"--bekannte-releasesequenz", L"7"},
       host},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseToolCommandLine(c.args), c.expected) << c.args[0] << " " << c.args.size();
  }
}

TEST(ReleaseToolArgs, WhatIsNotUnderstoodIsAUsageErrorThatSaysWhy) {
  struct Case {
    Args args;
    std::wstring reason;
  };
  const Case cases[] = {
      {{}, L"Kein Befehl angegeben."},
      {{L"veroeffentlichen"}, L"Unbekannter Befehl: veroeffentlichen"},
      {{L"schluessel", L"a.key"},
       L"Der Befehl schluessel erwartet 2 Angaben vor den Optionen, "
       L"nicht 1."},
      {{L"schluessel", L"a", L"b", L"c"},
       L"Der Befehl schluessel erwartet 2 Angaben vor den "
       L"Optionen, nicht 3."},
      {{L"schluessel", L"a", L"b", L"--deckel", L"5"},
       L"Unbekannte Option für schluessel: "
       L"--deckel"},
      {{L"release", L"r.key", L"a.dll", L"https://u/a.dll", L"ordner", L"--zeitstempelschluessel",
        L"o.pub"},
       L"Die Option --rampe fehlt."},
      {{L"release", L"r.key", L"a.dll", L"https://u/a.dll", L"ordner", L"--rampe", L"0:100"},
       L"Die Option --zeitstempelschluessel fehlt."},
      {{L"release", L"r.key", L"a.dll", L"file://u/a.dll", L"ordner", L"--rampe", L"0:100",
        L"--zeitstempelschluessel", L"o.pub"},
       L"Die DLL-URL muss mit http:// oder https:// beginnen: file://u/a.dll"},
      {With(kRelease, {L"--sequenz"}), L"Der Option --sequenz fehlt ihr Wert."},
      {With(kRelease, {L"--sequenz", L"--ablauf-wochen", L"3"}),
       L"Der Option --sequenz fehlt ihr Wert."},
      {With(kRelease, {L"--sequenz", L"0"}),
       L"--sequenz: \"0\" ist keine Zahl von 1 bis "
       L"999999999999999999."},
      {With(kRelease, {L"--sequenz", L"-3"}),
       L"--sequenz: \"-3\" ist keine Zahl von 1 bis "
       L"999999999999999999."},
      {With(kRelease, {L"--sequenz", L"+3"}),
       L"--sequenz: \"+3\" ist keine Zahl von 1 bis "
       L"999999999999999999."},
      {With(kRelease, {L"--sequenz", L"3 "}),
       L"--sequenz: \"3 \" ist keine Zahl von 1 bis "
       L"999999999999999999."},
      {With(kRelease, {L"--rampe", L"0:5"}), L"Die Option --rampe ist doppelt angegeben."},
      {With(kRelease, {L"--ablauf-wochen", L"0"}),
       L"--ablauf-wochen: \"0\" ist keine Zahl von 1 "
       L"bis 520."},
      {With(kRelease, {L"--zurueckgezogen", L"2.1.0"}),
       L"--zurueckgezogen: \"2.1.0\" ist keine "
       L"Version aus vier Zahlen (a.b.c.d)."},
      {With(kRelease, {L"--zurueckgezogen", L"2.1.0.0,,2.0.0.3"}),
       L"--zurueckgezogen: leerer Eintrag in \"2.1.0.0,,2.0.0.3\"."},
      {With(kRelease, {L"--zurueckgezogen", L"2.1.0.70000"}),
       L"--zurueckgezogen: \"2.1.0.70000\" ist keine Version aus vier Zahlen (a.b.c.d)."},
      {With(kRelease, {L"--deckel", L"5"}), L"Unbekannte Option für release: --deckel"},
      {With(kRelease, {L"--patch-adresse", L"ftp://p/"}),
       L"--patch-adresse muss mit http:// oder https:// beginnen: ftp://p/"},
      {{L"anhalten", L"o.key", L"ordner", L"--deckel", L"50"},
       L"Unbekannte Option für anhalten: --deckel"},
      {{L"zeitstempel", L"o.key", L"ordner", L"--deckel", L"101"},
       L"--deckel: \"101\" ist keine Zahl von 0 bis 100."},
      {{L"zeitstempel", L"o.key", L"ordner", L"--ablauf-stunden", L"0"},
       L"--ablauf-stunden: \"0\" ist keine Zahl von 1 bis 2160."},
      {{L"pruefen", L"ordner", L"k1", L"--maschine", L"m"},
       L"--maschine und --version gehören zusammen."},
      {{L"pruefen", L"ordner", L"k1", L"--version", L"2.1.0.0"},
       L"--maschine und --version gehören zusammen."},
      {{L"pruefen", L"ordner", L"k1", L"--maschine", L"m", L"--version", L"neu"},
       L"--version: \"neu\" ist keine Version."},
  };
  for (const Case& c : cases) {
    try {
      ParseToolCommandLine(c.args);
      ADD_FAILURE() << "accepted: " << c.args.size() << " arguments";
    } catch (const UsageError& e) {
      EXPECT_EQ(e.Message(), c.reason);
    }
  }
}

TEST(ReleaseToolArgs, RampsRiseAsHostsAcceptThem) {
  struct Case {
    const wchar_t* text;
    std::vector<RampStep> ramp;  // empty: refused
  };
  const Case cases[] = {
      {L"0:1,2:10,24:50,48:100", {{0, 1}, {2, 10}, {24, 50}, {48, 100}}},
      {L"0:100", {{0, 100}}},
      {L"0:0,8760:0", {{0, 0}, {8760, 0}}},  // parked: nobody yet
      {L"5:20,5:30", {}},                    // hours must rise
      {L"0:50,2:10", {}},                    // percent must not fall
      {L"0:101", {}},
      {L"8761:100", {}},
      {L"0:1,", {}},
      {L"", {}},
      {L"0-1", {}},
      {L"0:1:2", {}},
      {L"a:1", {}},
      {L" 0:1", {}},
  };
  for (const Case& c : cases) {
    if (c.ramp.empty()) {
      EXPECT_THROW(ParseRamp(c.text), UsageError) << c.text;
    } else {
      EXPECT_EQ(ParseRamp(c.text), c.ramp) << c.text;
    }
  }
  std::wstring steps33;
  for (int h = 0; h < 33; ++h) steps33 += (h ? L"," : L"") + std::to_wstring(h) + L":100";
  EXPECT_THROW(ParseRamp(steps33), UsageError);
}

// A host identity whose bucket for version lies below (or not below) percent.
std::wstring HostWithBucket(const std::wstring& version, bool below, int percent) {
  for (int i = 0;; ++i) {
    const std::wstring host = L"host-" + std::to_wstring(i);
    if ((RolloutBucket(host, version) < percent) == below) return host;
  }
}

TEST(CheckReport, AHostTakesANewerOrReplacesARevokedVersionOnceTheBrakeLetsItIn) {
  ReleaseInfo r;
  r.version = L"2.1.0.1";
  r.publishedUnix = 1'800'000'000;
  r.ramp = {{0, 1}, {24, 50}, {48, 100}};
  r.revoked = {L"2.1.0.0", L"3.0.0.0"};
  const std::int64_t at30h = r.publishedUnix + 30 * 3600;  // ramp at 50 %
  const std::wstring inside = HostWithBucket(r.version, true, 50);
  const std::wstring outside = HostWithBucket(r.version, false, 50);
  struct Case {
    std::wstring host;
    const wchar_t* installed;
    int cap;
    bool older, revoked, install;
    const wchar_t* decision;
  };
  const Case cases[] = {
      {inside, L"2.0.9.9", 100, true, false, true, L"Installiert jetzt: ja"},
      {inside, L"2.1.0.0", 100, true, true, true, L"Installiert jetzt: ja"},
      // the only way back: a revoked newer version takes the older release
      {inside, L"3.0.0.0", 100, false, true, true, L"Installiert jetzt: ja"},
      {inside, L"2.1.0.1", 100, false, false, false,
       L"Installiert jetzt: nein (keine neuere "
       L"Version)"},
      {inside, L"2.2.0.0", 100, false, false, false,
       L"Installiert jetzt: nein (keine neuere "
       L"Version)"},
      {inside, L"2.0.9.9", 0, true, false, false, L"Installiert jetzt: nein (angehalten)"},
      {inside, L"3.0.0.0", 0, false, true, false, L"Installiert jetzt: nein (angehalten)"},
  };
  for (const Case& c : cases) {
    const HostVerdict v = DecideForHost(c.host, c.installed, r, c.cap, at30h);
    EXPECT_EQ(v.older, c.older) << c.installed;
    EXPECT_EQ(v.revoked, c.revoked) << c.installed;
    EXPECT_EQ(v.install, c.install) << c.installed << " cap " << c.cap;
    EXPECT_EQ(DescribeHost(c.host, c.installed, v).back(), c.decision) << c.installed;
  }
  const HostVerdict later = DecideForHost(outside, L"2.0.9.9", r, 100, at30h);
  EXPECT_FALSE(later.install);
  EXPECT_EQ(DescribeHost(outside, L"2.0.9.9", later),
            (std::vector<std::wstring>{
                L"Rechner " + outside + L": Platz " + std::to_wstring(later.rollout.bucket) +
                    L" von 0 bis 99, freigegeben 50 %",
                L"Installiert: 2.0.9.9 (älter)",
                L"Installiert jetzt: nein (Platz " + std::to_wstring(later.rollout.bucket) +
                    L" liegt nicht unter 50 %)"}));
  EXPECT_TRUE(DecideForHost(outside, L"2.0.9.9", r, 100, r.publishedUnix + 48 * 3600).install);
}

TEST(CheckReport, TheVerifiedFactsNameEverythingAHostActsOn) {
  ReleaseInfo r;
  r.sequence = 7;
  r.version = L"2.1.0.1";
  r.url = L"https://updates.example/KorvalAppServer.dll";
  r.size = 4096;
  r.sha256 = std::string(31, '\0') + "\xff";
  r.publishedUnix = 1'800'000'000;  // 2027-01-15 08:00:00 UTC
  r.ramp = {{0, 1}, {24, 50}};
  r.timestampKeys = {"a", "b"};
  r.expiresUnix = r.publishedUnix + 8 * 7 * 86400;
  r.revoked = {L"2.1.0.0"};
  TimestampInfo t;
  t.sequence = 42;
  t.releaseSequence = 7;
  t.cap = 20;
  t.issuedUnix = r.publishedUnix + 25 * 3600;
  t.expiresUnix = t.issuedUnix + 86400;
  EXPECT_EQ(DescribeVerifiedFiles(t, r, t.issuedUnix),
            (std::vector<std::wstring>{
                L"Zeitstempel: Folgenummer 42, Deckel 20 %, ausgestellt 2027-01-16 09:00:00 UTC, "
                L"gültig bis 2027-01-17 09:00:00 UTC",
                L"Releasedatei: Folgenummer 7, veröffentlicht 2027-01-15 08:00:00 UTC, gültig bis "
                L"2027-03-12 08:00:00 UTC",
                L"Version: 2.1.0.1",
                L"DLL: 4096 Bytes, SHA-256 " + std::wstring(62, L'0') + L"ff",
                L"URL: https://updates.example/KorvalAppServer.dll",
                L"Zurückgezogen: 2.1.0.0",
                L"Zeitstempelschlüssel: 2",
                L"Rampe: 0:1,24:50; jetzt 50 %, mit dem Deckel 20 %",
            }));
  t.cap = 0;
  r.ramp.clear();
  r.revoked.clear();
  const std::vector<std::wstring> halted = DescribeVerifiedFiles(t, r, t.issuedUnix);
  EXPECT_EQ(halted[5], L"Zurückgezogen: keine");
  EXPECT_EQ(halted[7], L"Rampe: keine (100 %); jetzt 100 %, mit dem Deckel 0 % (angehalten)");
  EXPECT_EQ(FormatUtc(0), L"1970-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatUtc(951782400), L"2000-02-29 00:00:00 UTC");
}

}  // namespace
