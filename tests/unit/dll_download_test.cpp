// The download's checks and limits: the pinned signer digests, the signature decision, the
// guard that ends a transfer early, the machine type, the stop request box, and the engine's
// download under each of them, with fakes.
#include <gtest/gtest.h>

#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "Services/ControlRequestBox.h"
#include "Services/UpdateCycle.h"
#include "core/DownloadGuard.h"
#include "core/Exception.h"
#include "core/PortableExecutable.h"
#include "core/ResumeRule.h"
#include "core/SignaturePolicy.h"
#include "platform/SignatureVerifier.h"
#include "support/FakeDll.h"
#include "support/FakeEnginePlatform.h"

namespace {

const std::wstring kPinA = L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::wstring kPinB = L"ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100";

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

TEST(ParsePinnedDigests, AcceptsDigestListsInAnyCaseWithBlanks) {
  EXPECT_TRUE(ParsePinnedDigests(L"").empty());
  EXPECT_TRUE(ParsePinnedDigests(L"  \t ").empty());
  EXPECT_EQ(ParsePinnedDigests(kPinA), (std::vector<std::wstring>{kPinA}));
  EXPECT_EQ(ParsePinnedDigests(Upper(kPinA) + L" ; " + kPinB + L"\t"),
            (std::vector<std::wstring>{kPinA, kPinB}));
}

TEST(ParsePinnedDigests, RefusesEverythingElseNamingTheEntry) {
  const std::vector<std::wstring> bad = {
      kPinA.substr(1),                                     // 63 digits
      kPinA + L"0",                                        // 65 digits
      kPinA.substr(0, 63) + L"g",                          // not hex
      kPinA + L";",                                        // an empty entry
      kPinA + L"," + kPinB,                                // the wrong separator
      L"SHA256:" + kPinA,                                  // a prefix
      L"00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff",  // colon-separated
  };
  for (const auto& value : bad) {
    try {
      ParsePinnedDigests(value);
      ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind(L"Der Wert von SIGNATURSCHLUESSEL ist ungültig: \"", 0), 0u);
      EXPECT_NE(e.Message().find(L"64 Hexadezimalziffern"), std::wstring::npos);
    }
  }
}

SignatureFacts GoodFacts() {
  SignatureFacts facts;
  facts.signerFound = true;
  facts.codeSigningUsage = true;
  facts.signerKeyDigest = kPinB;
  return facts;
}

struct DecisionCase {
  const char* name;
  void (*change)(SignatureFacts&);
  const wchar_t* refusal;  // null: accepted
};

const DecisionCase kDecisions[] = {
    {"all facts good", [](SignatureFacts&) {}, nullptr},
    {"the pin matches in upper case", [](SignatureFacts& f) { f.signerKeyDigest = Upper(kPinB); },
     nullptr},
    {"unsigned", [](SignatureFacts& f) { f.trustResult = 0x800B0100; },
     L"Die empfangene DLL ist nicht signiert."},
    {"changed after signing", [](SignatureFacts& f) { f.trustResult = 0x80096010; },
     L"Die Signatur der empfangenen DLL ist ungültig (0x80096010)."},
    {"no signer", [](SignatureFacts& f) { f.signerFound = false; },
     L"Die Signatur der empfangenen DLL nennt keinen Unterzeichner."},
    {"unknown root", [](SignatureFacts& f) { f.chainErrors = 0x20; },
     L"Die Zertifikatskette der Signatur ist nicht vertrauenswürdig (0x00000020)."},
    {"policy refuses", [](SignatureFacts& f) { f.policyError = 0x800B0109; },
     L"Die Signatur erfüllt die Authenticode-Richtlinie nicht (0x800B0109)."},
    {"no code-signing usage", [](SignatureFacts& f) { f.codeSigningUsage = false; },
     L"Das Zertifikat der Signatur ist nicht für Codesignaturen bestimmt."},
    {"another signer", [](SignatureFacts& f) { f.signerKeyDigest = std::wstring(64, L'1'); },
     L"Die empfangene DLL ist mit keinem zugelassenen Zertifikat signiert (Schlüssel "
     L"1111111111111111111111111111111111111111111111111111111111111111)."},
    {"the trust verdict is weighed first, the pin last",
     [](SignatureFacts& f) {
       f.trustResult = 0x80096010;
       f.chainErrors = 0x20;
       f.signerKeyDigest = L"";
     },
     L"Die Signatur der empfangenen DLL ist ungültig (0x80096010)."},
};

TEST(SignatureRefusal, DecisionTable) {
  for (const auto& c : kDecisions) {
    SCOPED_TRACE(c.name);
    SignatureFacts facts = GoodFacts();
    c.change(facts);
    const std::optional<std::wstring> refusal = SignatureRefusal(facts, {kPinA, kPinB});
    if (c.refusal == nullptr) {
      EXPECT_FALSE(refusal) << *refusal;
    } else {
      EXPECT_EQ(refusal.value_or(L"<accepted>"), c.refusal);
    }
  }
}

TEST(DownloadGuard, EndsAtTheFirstLimitAndKeepsThatReason) {
  bool stop = false;
  DownloadLimits limits;
  limits.abortRequested = [&stop] { return stop; };
  DownloadGuard guard(L"https://update.test/a.dll", limits, 1000);
  EXPECT_FALSE(guard.OnRedirect(L"https://mirror.test/a.dll"));
  EXPECT_FALSE(guard.OnProgress(256ull * 1024 * 1024, 256ull * 1024 * 1024, 1000 + 100000));
  stop = true;
  EXPECT_EQ(guard.OnProgress(1, 0, 1001).value_or(L""),
            L"Der Download wurde abgebrochen, weil der Dienst beendet wird.");
  stop = false;
  EXPECT_EQ(guard.OnFinished(1, 1002).value_or(L""),
            L"Der Download wurde abgebrochen, weil der Dienst beendet wird.");
}

TEST(DownloadGuard, EachLimitHasItsReason) {
  const std::wstring tooLarge = L"Die DLL ist größer als 256 MiB.";
  struct Case {
    std::optional<std::wstring> (*step)(DownloadGuard&);
    std::wstring reason;
  } cases[] = {
      {[](DownloadGuard& g) { return g.OnProgress(256ull * 1024 * 1024 + 1, 0, 0); }, tooLarge},
      {[](DownloadGuard& g) { return g.OnProgress(10, 2ull * 1024 * 1024 * 1024, 0); }, tooLarge},
      {[](DownloadGuard& g) { return g.OnFinished(300ull * 1024 * 1024, 0); }, tooLarge},
      {[](DownloadGuard& g) { return g.OnProgress(64 * 1024 - 1, 0, 120001); },
       L"Der Download stockt: in 2 Minuten kamen weniger als 64 KiB an."},
      {[](DownloadGuard& g) {
         for (std::uint64_t minute = 1; minute <= 120; ++minute)
           g.OnProgress(minute << 20, 0, minute * 60000);
         return g.OnProgress(121 << 20, 0, 7200001);
       },
       L"Der Download hat länger als 2 Stunden gedauert."},
      {[](DownloadGuard& g) { return g.OnRedirect(L"http://update.test/a.dll"); },
       L"Umleitung von https auf eine unverschlüsselte Adresse abgelehnt: "
       L"\"http://update.test/a.dll\""},
      {[](DownloadGuard& g) {
         g.OnRedirect(L"https://mirror.test/a.dll");
         return g.OnRedirect(L"HTTP://plain.test/a.dll");
       },
       L"Umleitung von https auf eine unverschlüsselte Adresse abgelehnt: "
       L"\"HTTP://plain.test/a.dll\""},
      {[](DownloadGuard& g) { return g.OnRedirect(L"file:///C:/a.dll"); },
       L"Umleitung von https auf eine unverschlüsselte Adresse abgelehnt: \"file:///C:/a.dll\""},
  };
  for (const auto& c : cases) {
    DownloadGuard guard(L"https://update.test/a.dll", DownloadLimits(), 0);
    EXPECT_EQ(c.step(guard).value_or(L"<none>"), c.reason);
    EXPECT_EQ(guard.Reason().value_or(L"<none>"), c.reason);
  }
  DownloadGuard plain(L"http://update.test/a.dll", DownloadLimits(), 0);
  EXPECT_FALSE(plain.OnRedirect(L"http://mirror.test/a.dll"));
  EXPECT_EQ(plain.OnRedirect(L"ftp://mirror.test/a.dll").value_or(L""),
            L"Umleitung auf eine Adresse, die weder http noch https ist, abgelehnt: "
            L"\"ftp://mirror.test/a.dll\"");
}

TEST(RequireWebAddress, OnlyHttpAndHttps) {
  EXPECT_NO_THROW(RequireWebAddress(L"https://update.test/a.dll"));
  EXPECT_NO_THROW(RequireWebAddress(L"HTTP://update.test/a.dll"));
  for (const std::wstring url : {L"file:///C:/a.dll", L"\\\\server\\share\\a.dll", L"C:\\a.dll",
                                 L"ftp://update.test/a.dll", L"https:a.dll"}) {
    EXPECT_THROW(RequireWebAddress(url), Exception) << std::string(url.begin(), url.end());
  }
}

std::string WithMachine(std::string image, std::uint16_t machine) {
  image[0x80 + 4] = static_cast<char>(machine & 0xFF);
  image[0x80 + 5] = static_cast<char>(machine >> 8);
  return image;
}

TEST(PeMachineType, ReadsTheCoffMachineField) {
  EXPECT_EQ(PeMachineType(WithMachine(FakeDllBytes("x"), 0x8664)), 0x8664);
  EXPECT_EQ(PeMachineType(WithMachine(FakeDllBytes("x"), 0x014C)), 0x014C);
  EXPECT_FALSE(PeMachineType("MZ"));
  EXPECT_FALSE(PeMachineType("<html></html>"));
  EXPECT_EQ(MachineTypeName(0x014C), L"x86");
  EXPECT_EQ(MachineTypeName(0x8664), L"x64");
  EXPECT_EQ(MachineTypeName(0x01C4), L"0x01C4");
}

TEST(ControlRequestBox, KeepsOrderAndTellsWhetherAStopWaits) {
  ControlRequestBox box;
  EXPECT_FALSE(box.StopPending());
  box.Post(2);
  EXPECT_FALSE(box.StopPending()) << "a pause ends no download";
  box.Post(1);
  box.Post(5);
  EXPECT_TRUE(box.StopPending());
  EXPECT_EQ(box.Take(), 2u);
  EXPECT_EQ(box.Take(), 1u);
  EXPECT_TRUE(box.StopPending()) << "the shutdown still waits";
  EXPECT_EQ(box.Take(), 5u);
  EXPECT_FALSE(box.StopPending());
  EXPECT_FALSE(box.Take());
}

// --- the engine's download ------------------------------------------------------------------

const std::wstring kDownloaded = L"C:\\korval\\Download\\KorvalAppServer.dll";
const std::wstring kTemp = kPartialDownload;
const std::wstring kTarget = L"C:\\inetpub\\app1\\KorvalAppServer.dll";
const std::wstring kDllUrl = L"https://update.test/KorvalAppServer.dll";

class FakeSignatures : public SignatureVerifier {
 public:
  SignatureFacts Inspect(const std::wstring& file, HeldFile&) override {
    inspected.push_back(file);
    return facts;
  }
  SignatureFacts facts = GoodFacts();
  std::vector<std::wstring> inspected;
};

// The engine with fakes, one target (x64, older) and a newer x64 DLL at the address.
class DownloadRig : public FakeEnginePlatform {
 public:
  DownloadRig() {
    profiles.Set(L"VERZEICHNISSE", L"DOWNLOADPFAD", L"C:\\korval");
    profiles.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"C:\\korval");
    profiles.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\inetpub\\app1");
    profiles.Set(L"URLS", L"KorvalAppServerDLL", kDllUrl);
    files.files[kTarget] = WithMachine(FakeDllBytes("old"), 0x8664);
    files.folders = {L"C:", L"C:\\korval", L"C:\\korval\\Download", L"C:\\inetpub",
                     L"C:\\inetpub\\app1"};
    versions.Set(kTarget, 2, 1, 0, 0);
    versions.Set(kTemp, 2, 1, 0, 1);
    downloader.bodies[kDllUrl] = WithMachine(FakeDllBytes("new"), 0x8664);
  }

  std::unique_ptr<TDLLSynchronisierer> MakeEngine() {
    EnginePlatform platform = Platform();
    platform.signatures = &signatures;
    platform.stopRequested = [this] { return stopRequested; };
    return std::make_unique<TDLLSynchronisierer>(platform);
  }

  // The run log's texts after "Downloade DLL von der Webseite." of the last cycle.
  std::vector<std::wstring> DownloadLines() const {
    std::vector<std::wstring> texts;
    bool after = false;
    for (const std::wstring& line : engine->ProtokollListe()) {
      const std::wstring text = line.substr(line.find(L": ") + 2);
      if (after) texts.push_back(text);
      after = after || text == L"Downloade DLL von der Webseite.";
    }
    return texts;
  }

  // One whole cycle; answers the last line the download logged.
  std::wstring RunCycle() {
    http.script.Respond(200, "2.1.0.1");
    engine = MakeEngine();
    cycle = RunUpdateCycle(*engine);
    const auto& log = engine->ProtokollListe();
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
      if (log[i].find(L": Downloade DLL von der Webseite.") == std::wstring::npos) continue;
      return log[i + 1].substr(log[i + 1].find(L": ") + 2);
    }
    return L"<no download>";
  }

  void ExpectNothingStopped() {
    EXPECT_TRUE(launcher.launches.empty());
    EXPECT_EQ(files.files[kTarget], WithMachine(FakeDllBytes("old"), 0x8664));
    EXPECT_EQ(files.files.count(kTemp), 0u) << "the partial file is removed";
    EXPECT_EQ(files.files.count(kDownloaded), 0u);
    EXPECT_TRUE(cycle.failed);
  }

  FakeSignatures signatures;
  bool stopRequested = false;
  std::unique_ptr<TDLLSynchronisierer> engine;
  UpdateCycleResult cycle;
};

class DownloadTest : public ::testing::Test, public DownloadRig {};

TEST_F(DownloadTest, WithoutPinsNoSignatureIsAskedForAndTheUpdateGoesAhead) {
  EXPECT_EQ(RunCycle(), L"Halte IIS an.");
  EXPECT_TRUE(signatures.inspected.empty());
  EXPECT_EQ(downloader.lastLimits.maxBytes, 256ull * 1024 * 1024);
  EXPECT_EQ(downloader.lastLimits.progress.maxMilliseconds, 7200000u);
  EXPECT_EQ(downloader.lastLimits.progress.windowMilliseconds, 120000u);
  EXPECT_EQ(downloader.lastLimits.progress.minBytes, 65536u);
  EXPECT_FALSE(downloader.lastLimits.proxyLogon);
}

TEST_F(DownloadTest, ProxyAnmeldungReachesTheDownload) {
  profiles.Set(L"ABSICHERUNG", L"PROXYANMELDUNG", L"JA");
  EXPECT_EQ(RunCycle(), L"Halte IIS an.");
  EXPECT_TRUE(downloader.lastLimits.proxyLogon);
}

TEST_F(DownloadTest, APinnedSignerThatSignedTheDownloadPassesAndTheSiteIsUpdated) {
  profiles.Set(L"ABSICHERUNG", L"SIGNATURSCHLUESSEL", kPinA + L";" + Upper(kPinB));
  EXPECT_EQ(RunCycle(), L"Halte IIS an.");
  EXPECT_EQ(signatures.inspected, (std::vector<std::wstring>{kTemp}));
  EXPECT_EQ(files.files[kTarget], WithMachine(FakeDllBytes("new"), 0x8664));
}

struct RefusedDownload {
  const char* name;
  void (*arrange)(DownloadRig&);
  std::wstring reason;  // what follows "Fehler beim downloaden der DLL: "
};

const RefusedDownload kRefused[] = {
    {"signed by another signer", [](DownloadRig& t) { t.signatures.facts.signerKeyDigest = kPinA; },
     L"Die empfangene DLL ist mit keinem zugelassenen Zertifikat signiert (Schlüssel " + kPinA +
         L")."},
    {"unsigned", [](DownloadRig& t) { t.signatures.facts.trustResult = 0x800B0100; },
     L"Die empfangene DLL ist nicht signiert."},
    {"an x86 DLL for an x64 target",
     [](DownloadRig& t) {
       t.downloader.bodies[kDllUrl] = WithMachine(FakeDllBytes("new"), 0x014C);
     },
     L"Die empfangene DLL ist für x86 gebaut, die installierte DLL für x64."},
    {"larger than 256 MiB",
     [](DownloadRig& t) { t.downloader.claimedSizes[kDllUrl] = 256ull * 1024 * 1024 + 1; },
     L"Die DLL ist größer als 256 MiB."},
    {"stalled for two minutes", [](DownloadRig& t) { t.downloader.millisecondsPerChunk = 200000; },
     L"Der Download stockt: in 2 Minuten kamen weniger als 64 KiB an."},
    {"a stop request arrives during the transfer",
     [](DownloadRig& t) {
       t.downloader.afterChunk = [&t](int chunk) { t.stopRequested = chunk == 2; };
     },
     L"Der Download wurde abgebrochen, weil der Dienst beendet wird."},
    {"https redirected to http",
     [](DownloadRig& t) {
       t.downloader.redirects[kDllUrl] = L"http://update.test/KorvalAppServer.dll";
       t.downloader.bodies[L"http://update.test/KorvalAppServer.dll"] = FakeDllBytes("evil");
     },
     L"Umleitung von https auf eine unverschlüsselte Adresse abgelehnt: "
     L"\"http://update.test/KorvalAppServer.dll\""},
    {"a file address",
     [](DownloadRig& t) {
       t.profiles.Set(L"URLS", L"KorvalAppServerDLL", L"file:///C:/evil/KorvalAppServer.dll");
     },
     L"Die Adresse der DLL ist keine http- oder https-Adresse: "
     L"\"file:///C:/evil/KorvalAppServer.dll\""},
};

TEST_F(DownloadTest, ARefusedDownloadStopsNothingAndLeavesNoFile) {
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.name);
    DownloadRig t;
    t.profiles.Set(L"ABSICHERUNG", L"SIGNATURSCHLUESSEL", kPinB);
    c.arrange(t);
    EXPECT_EQ(t.RunCycle(), L"Fehler beim downloaden der DLL: " + c.reason);
    t.ExpectNothingStopped();
  }
}

// --- a cut-off transfer goes on where it stopped ----------------------------------------------

const std::wstring kPartialRecord = kPartialDownload + L".info";
const std::wstring kEtag = L"\"v2101\"";

std::string NewDll() { return WithMachine(FakeDllBytes("new"), 0x8664); }

struct CutOffTransfer {
  const char* name;
  void (*arrange)(DownloadRig&);
  std::wstring reason;
  int chunksHeld;  // of the fake's 4
};

const CutOffTransfer kCutOff[] = {
    {"the connection is lost", [](DownloadRig& t) { t.downloader.cutAfterChunk = 2; },
     L"Die Verbindung wurde getrennt.", 2},
    {"a stop request",
     [](DownloadRig& t) {
       t.downloader.afterChunk = [&t](int chunk) { t.stopRequested = chunk == 1; };
     },
     L"Der Download wurde abgebrochen, weil der Dienst beendet wird.", 2},
    {"the two hours run out (a body that passes for 100 MB)",
     [](DownloadRig& t) {
       t.downloader.claimedSizes[kDllUrl] = 100'000'000;
       t.downloader.chunks = 200;
       t.downloader.millisecondsPerChunk = 60000;
     },
     L"Der Download hat länger als 2 Stunden gedauert.", -1},
    {"the transfer stalls", [](DownloadRig& t) { t.downloader.millisecondsPerChunk = 200000; },
     L"Der Download stockt: in 2 Minuten kamen weniger als 64 KiB an.", 1},
};

TEST_F(DownloadTest, ACutOffTransferKeepsItsBytesAndTheNextCycleGoesOnAndInstalls) {
  for (const auto& c : kCutOff) {
    SCOPED_TRACE(c.name);
    DownloadRig t;
    t.downloader.etags[kDllUrl] = kEtag;
    c.arrange(t);
    EXPECT_EQ(t.RunCycle(), L"Fehler beim downloaden der DLL: " + c.reason);
    EXPECT_TRUE(t.launcher.launches.empty());
    const std::string whole = NewDll();
    const std::size_t held = t.files.files[kPartialDownload].size();
    if (c.chunksHeld > 0) EXPECT_EQ(held, whole.size() * c.chunksHeld / 4);
    EXPECT_GT(held, 0u);
    EXPECT_LT(held, whole.size());
    EXPECT_EQ(t.files.files[kPartialDownload], whole.substr(0, held));
    const ParsedPartialRecord kept = ParsePartialRecord(t.files.files[kPartialRecord]);
    ASSERT_TRUE(kept.record) << kept.whyNot;
    EXPECT_EQ(*kept.record, (PartialRecord{kDllUrl, kEtag, whole.size(), held}));

    t.stopRequested = false;
    t.downloader.afterChunk = nullptr;
    t.downloader.cutAfterChunk.reset();
    t.downloader.chunks = 4;
    t.downloader.millisecondsPerChunk = 1;
    t.downloader.askedFrom.clear();
    t.downloader.bytesServed = 0;
    t.RunCycle();
    EXPECT_EQ(t.DownloadLines().front(), L"Setze den Download bei Byte " + std::to_wstring(held) +
                                             L" von " + std::to_wstring(whole.size()) + L" fort.");
    EXPECT_EQ(t.DownloadLines()[1], L"Halte IIS an.");
    EXPECT_EQ(t.downloader.askedFrom, (std::vector<std::uint64_t>{held}));
    EXPECT_EQ(t.downloader.bytesServed, whole.size() - held) << "only the rest was sent";
    EXPECT_EQ(t.files.files[kTarget], whole);
    EXPECT_FALSE(t.files.files.count(kPartialDownload));
    EXPECT_FALSE(t.files.files.count(kPartialRecord));
  }
}

struct NextAttempt {
  const char* name;
  void (*arrange)(DownloadRig&);
  // The first lines after "Downloade DLL von der Webseite."; kGoesOn stands for "Setze den
  // Download bei ...".
  std::vector<std::wstring> lines;
  bool keepsPartial;  // after the attempt
  bool asksForTheRest;
};

const std::wstring kGoesOn = L"<goes on>";

const NextAttempt kNextAttempts[] = {
    {"the server sends the whole file again",
     [](DownloadRig& t) { t.downloader.servesRanges = false; },
     {kGoesOn, L"Der Server setzt den Download nicht fort; er beginnt neu.", L"Halte IIS an."},
     false,
     true},
    {"the server answers 416",
     [](DownloadRig& t) { t.downloader.rangeStatus = 416; },
     {kGoesOn, L"Fehler beim downloaden der DLL: Der Server antwortete mit dem Status 416 (" +
                   kDllUrl + L")."},
     false,
     true},
    {"the server sends another part",
     [](DownloadRig& t) { t.downloader.contentRange = L"bytes 0-9/10"; },
     {kGoesOn,
      L"Fehler beim downloaden der DLL: Der Server sandte einen anderen Teil der DLL als erbeten "
      L"(Content-Range: \"bytes 0-9/10\")."},
     false,
     true},
    {"the server answers 503: the bytes stay for later",
     [](DownloadRig& t) { t.downloader.refusal = std::make_pair(503, std::wstring(L"60")); },
     {kGoesOn, L"Fehler beim downloaden der DLL: Der Server antwortete mit dem Status 503 (" +
                   kDllUrl + L"), Retry-After: 60."},
     true,
     true},
    {"a new release at another address",
     [](DownloadRig& t) {
       const std::wstring moved = L"https://update.test/2.1.0.1/KorvalAppServer.dll";
       t.profiles.Set(L"URLS", L"KorvalAppServerDLL", moved);
       t.downloader.bodies[moved] = t.downloader.bodies[kDllUrl];
     },
     {L"Halte IIS an."},
     false,
     false},
    {"the record belongs to another account",
     [](DownloadRig& t) { t.files.owners[kPartialRecord] = L"S-1-5-21-1-2-3-1001"; },
     {L"Warnung: Angefangener Download verworfen: die Datei " + kPartialRecord +
          L" gehört S-1-5-21-1-2-3-1001.",
      L"Halte IIS an."},
     false,
     false},
    {"the partial file belongs to another account",
     [](DownloadRig& t) { t.files.owners[kPartialDownload] = L"S-1-5-21-1-2-3-1001"; },
     {L"Warnung: Angefangener Download verworfen: die Datei " + kPartialDownload +
          L" gehört S-1-5-21-1-2-3-1001.",
      L"Halte IIS an."},
     false,
     false},
    {"the record is a link",
     [](DownloadRig& t) { t.files.linked.insert(kPartialRecord); },
     {L"Warnung: Angefangener Download verworfen: die Datei " + kPartialRecord +
          L" ist ein Verweis oder hat weitere harte Links.",
      L"Halte IIS an."},
     false,
     false},
    {"the record does not parse",
     [](DownloadRig& t) { t.files.files[kPartialRecord] += "MEHR=1\n"; },
     {L"Warnung: Angefangener Download verworfen: die Datei " + kPartialRecord +
          L" ist unlesbar: die Schlüssel sind nicht URL, ETAG, GROESSE und BYTES.",
      L"Halte IIS an."},
     false,
     false},
    {"the partial file is shorter than its record",
     [](DownloadRig& t) { t.files.files[kPartialDownload].resize(3); },
     {kGoesOn, L"Halte IIS an."},
     false,
     false},
};

// Half the DLL in the partial file, its record, then one cycle.
TEST_F(DownloadTest, WhatTheNextAttemptDoesWithAPartialFile) {
  const std::string whole = NewDll();
  const std::size_t half = whole.size() / 2;
  const std::wstring goesOn = L"Setze den Download bei Byte " + std::to_wstring(half) + L" von " +
                              std::to_wstring(whole.size()) + L" fort.";
  for (const auto& c : kNextAttempts) {
    SCOPED_TRACE(c.name);
    DownloadRig t;
    t.downloader.etags[kDllUrl] = kEtag;
    t.files.files[kPartialDownload] = whole.substr(0, half);
    t.files.files[kPartialRecord] = FormatPartialRecord({kDllUrl, kEtag, whole.size(), half});
    c.arrange(t);
    t.RunCycle();
    std::vector<std::wstring> lines = c.lines;
    for (std::wstring& line : lines) line = line == kGoesOn ? goesOn : line;
    std::vector<std::wstring> logged = t.DownloadLines();
    logged.resize(std::min(logged.size(), lines.size()));
    EXPECT_EQ(logged, lines);
    EXPECT_EQ(t.files.files.count(kPartialRecord) == 1, c.keepsPartial);
    EXPECT_EQ(t.files.files.count(kPartialDownload) == 1, c.keepsPartial);
    EXPECT_EQ(t.downloader.askedFrom,
              (std::vector<std::uint64_t>{c.asksForTheRest ? half : std::size_t{0}}));
    if (t.launcher.launches.empty()) continue;
    EXPECT_EQ(t.files.files[kTarget], whole);
    EXPECT_EQ(t.downloader.bytesServed, whole.size()) << "the whole file, once";
  }
}

TEST_F(DownloadTest, WithoutAStrongETagNothingIsKeptAndTheNextAttemptStartsFromZero) {
  for (const wchar_t* etag : {L"", L"W/\"v2101\""}) {
    SCOPED_TRACE(std::wstring(etag));
    DownloadRig t;
    if (*etag) t.downloader.etags[kDllUrl] = etag;
    t.downloader.cutAfterChunk = 2;
    EXPECT_EQ(t.RunCycle(), L"Fehler beim downloaden der DLL: Die Verbindung wurde getrennt.");
    EXPECT_FALSE(t.files.files.count(kPartialDownload));
    EXPECT_FALSE(t.files.files.count(kPartialRecord));
    t.downloader.cutAfterChunk.reset();
    EXPECT_EQ(t.RunCycle(), L"Halte IIS an.");
    EXPECT_EQ(t.downloader.askedFrom, (std::vector<std::uint64_t>{0, 0}));
    EXPECT_EQ(t.downloader.bytesServed, NewDll().size() / 2 + NewDll().size());
  }
}

TEST_F(DownloadTest, TheFirstReadableTargetDecidesTheMachineType) {
  profiles.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\missing");
  profiles.Set(L"VERZEICHNISSE", L"DLLPFAD2", L"C:\\inetpub\\app1");
  versions.Set(L"C:\\missing\\KorvalAppServer.dll", 2, 1, 0, 0);
  downloader.bodies[kDllUrl] = WithMachine(FakeDllBytes("new"), 0xAA64);
  EXPECT_EQ(RunCycle(),
            L"Fehler beim downloaden der DLL: Die empfangene DLL ist für ARM64 gebaut, die "
            L"installierte DLL für x64.");
}

TEST_F(DownloadTest, AMalformedPinFailsTheEngineWithTheReason) {
  profiles.Set(L"ABSICHERUNG", L"SIGNATURSCHLUESSEL", L"abc");
  try {
    MakeEngine();
    FAIL() << "the engine was made";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              L"Der Wert von SIGNATURSCHLUESSEL ist ungültig: \"abc\" ist kein SHA-256-Wert aus 64 "
              L"Hexadezimalziffern (mehrere Werte durch \";\" trennen)");
  }
  profiles.Set(L"ABSICHERUNG", L"SIGNATURSCHLUESSEL", Upper(kPinA));
  EXPECT_EQ(MakeEngine()->DLLKonfiguration().Signaturschluessel(),
            (std::vector<std::wstring>{kPinA}));
}

}  // namespace
