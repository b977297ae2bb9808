#include "ReleaseToolArgs.h"

#include <algorithm>
#include <cwctype>
#include <map>

#include "core/VersionCompare.h"

namespace {

// The limits a host's reader sets (core/ReleaseFiles.cpp): what it would refuse is refused here.
constexpr int kMaxRampHours = 8760;
constexpr std::size_t kMaxRampSteps = 32;
constexpr std::size_t kMaxTimestampKeys = 8;
constexpr std::size_t kMaxRevoked = 256;
constexpr std::size_t kMaxPatches = 16;             // as many as a host reads
constexpr std::int64_t kLatestUnix = 253402300799;  // 9999-12-31
constexpr std::int64_t kMaxSequence = 999'999'999'999'999'999;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
}

// Decimal digits only, from low to high.
std::int64_t Number(const std::wstring& text, std::int64_t low, std::int64_t high,
                    const std::wstring& what) {
  const bool digits =
      !text.empty() && text.size() <= 18 &&
      std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
  const std::int64_t value = digits ? std::stoll(text) : -1;
  if (!digits || value < low || value > high) {
    throw UsageError(what + L": \"" + text + L"\" ist keine Zahl von " + std::to_wstring(low) +
                     L" bis " + std::to_wstring(high) + L".");
  }
  return value;
}

// The positional arguments and the "--name value" options of one command.
struct Arguments {
  std::wstring command;
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> options;

  std::optional<std::wstring> Take(const std::wstring& name) {
    const auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    std::wstring value = it->second;
    options.erase(it);
    return value;
  }
  std::wstring Require(const std::wstring& name) {
    std::optional<std::wstring> value = Take(name);
    if (!value) throw UsageError(L"Die Option " + name + L" fehlt.");
    return *value;
  }
};

Arguments SplitArguments(const std::vector<std::wstring>& arguments) {
  if (arguments.empty()) throw UsageError(L"Kein Befehl angegeben.");
  Arguments split;
  split.command = Lower(arguments[0]);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i].rfind(L"--", 0) != 0) {
      split.positional.push_back(arguments[i]);
      continue;
    }
    const std::wstring name = Lower(arguments[i]);
    if (i + 1 >= arguments.size() || arguments[i + 1].rfind(L"--", 0) == 0) {
      throw UsageError(L"Der Option " + name + L" fehlt ihr Wert.");
    }
    if (!split.options.emplace(name, arguments[++i]).second) {
      throw UsageError(L"Die Option " + name + L" ist doppelt angegeben.");
    }
  }
  return split;
}

void ExpectPositional(const Arguments& a, std::size_t count) {
  if (a.positional.size() != count) {
    throw UsageError(L"Der Befehl " + a.command + L" erwartet " + std::to_wstring(count) +
                     L" Angaben vor den Optionen, nicht " + std::to_wstring(a.positional.size()) +
                     L".");
  }
}

// Whatever is left is an option the command does not know.
void ExpectNoMoreOptions(const Arguments& a) {
  if (!a.options.empty()) {
    throw UsageError(L"Unbekannte Option für " + a.command + L": " + a.options.begin()->first);
  }
}

std::vector<std::wstring> NonEmptyList(const std::wstring& text, const std::wstring& what) {
  std::vector<std::wstring> items = Split(text, L',');
  if (std::any_of(items.begin(), items.end(), [](const std::wstring& i) { return i.empty(); })) {
    throw UsageError(what + L": leerer Eintrag in \"" + text + L"\".");
  }
  return items;
}

std::vector<std::wstring> FourPartVersions(const std::wstring& text, const std::wstring& what) {
  std::vector<std::wstring> versions = NonEmptyList(text, what);
  for (const std::wstring& v : versions) {
    if (!IsFourPartVersion(v)) {
      throw UsageError(what + L": \"" + v + L"\" ist keine Version aus vier Zahlen (a.b.c.d).");
    }
  }
  return versions;
}

ReleaseRequest ParseRelease(Arguments& a) {
  ExpectPositional(a, 4);
  ReleaseRequest r;
  r.releaseKeyFile = a.positional[0];
  r.dllFile = a.positional[1];
  r.dllUrl = a.positional[2];
  r.folder = a.positional[3];
  if (r.dllUrl.rfind(L"http://", 0) != 0 && r.dllUrl.rfind(L"https://", 0) != 0) {
    throw UsageError(L"Die DLL-URL muss mit http:// oder https:// beginnen: " + r.dllUrl);
  }
  r.ramp = ParseRamp(a.Require(L"--rampe"));
  r.timestampKeyFiles =
      NonEmptyList(a.Require(L"--zeitstempelschluessel"), L"--zeitstempelschluessel");
  if (r.timestampKeyFiles.size() > kMaxTimestampKeys) {
    throw UsageError(L"--zeitstempelschluessel: höchstens " + std::to_wstring(kMaxTimestampKeys) +
                     L" Schlüssel.");
  }
  if (auto v = a.Take(L"--sequenz")) r.sequence = Number(*v, 1, kMaxSequence, L"--sequenz");
  if (auto v = a.Take(L"--ablauf-wochen")) {
    r.expiryWeeks = static_cast<int>(Number(*v, 1, 520, L"--ablauf-wochen"));
  }
  if (auto v = a.Take(L"--zurueckgezogen")) {
    r.revoked = FourPartVersions(*v, L"--zurueckgezogen");
    if (r.revoked.size() > kMaxRevoked) {
      throw UsageError(L"--zurueckgezogen: höchstens " + std::to_wstring(kMaxRevoked) +
                       L" Versionen.");
    }
  }
  if (auto v = a.Take(L"--veroeffentlicht")) {
    r.publishedUnix = Number(*v, 0, kLatestUnix, L"--veroeffentlicht");
  }
  r.nextKeyFile = a.Take(L"--weiterer-schluessel");
  if (auto v = a.Take(L"--patch-von")) {
    r.patchFrom = NonEmptyList(*v, L"--patch-von");
    if (r.patchFrom.size() > kMaxPatches) {
      throw UsageError(L"--patch-von: höchstens " + std::to_wstring(kMaxPatches) + L" DLLs.");
    }
  }
  r.patchUrl = a.Take(L"--patch-adresse")
                   .value_or(r.dllUrl.substr(0, r.dllUrl.rfind(L'/') + 1) + L"patches/");
  if (r.patchUrl.rfind(L"http://", 0) != 0 && r.patchUrl.rfind(L"https://", 0) != 0) {
    throw UsageError(L"--patch-adresse muss mit http:// oder https:// beginnen: " + r.patchUrl);
  }
  if (r.patchUrl.back() != L'/') r.patchUrl += L'/';
  ExpectNoMoreOptions(a);
  return r;
}

// anhalten has its cap fixed at 0, fortsetzen defaults to 100, zeitstempel to the existing one.
TimestampRequest ParseTimestamp(Arguments& a) {
  ExpectPositional(a, 2);
  TimestampRequest t;
  t.timestampKeyFile = a.positional[0];
  t.folder = a.positional[1];
  if (a.command == L"anhalten") {
    t.cap = 0;
  } else if (auto v = a.Take(L"--deckel")) {
    t.cap = static_cast<int>(Number(*v, 0, 100, L"--deckel"));
  } else if (a.command == L"fortsetzen") {
    t.cap = 100;
  }
  if (auto v = a.Take(L"--ablauf-stunden")) {
    t.expiryHours = static_cast<int>(Number(*v, 1, 24 * 90, L"--ablauf-stunden"));
  }
  if (auto v = a.Take(L"--ausgestellt")) {
    t.issuedUnix = Number(*v, 0, kLatestUnix, L"--ausgestellt");
  }
  ExpectNoMoreOptions(a);
  return t;
}

CheckRequest ParseCheck(Arguments& a) {
  ExpectPositional(a, 2);
  CheckRequest c;
  c.folder = a.positional[0];
  c.releaseKeys = a.positional[1];
  c.machineIdentity = a.Take(L"--maschine");
  c.installedVersion = a.Take(L"--version");
  if (c.machineIdentity.has_value() != c.installedVersion.has_value()) {
    throw UsageError(L"--maschine und --version gehören zusammen.");
  }
  if (c.installedVersion && !IsResourceVersion(*c.installedVersion)) {
    throw UsageError(L"--version: \"" + *c.installedVersion + L"\" ist keine Version.");
  }
  if (auto v = a.Take(L"--bekannte-zeitstempelsequenz")) {
    c.knownTimestampSequence = Number(*v, 0, kMaxSequence, L"--bekannte-zeitstempelsequenz");
  }
  if (auto v = a.Take(L"--bekannte-releasesequenz")) {
    c.knownReleaseSequence = Number(*v, 0, kMaxSequence, L"--bekannte-releasesequenz");
  }
  ExpectNoMoreOptions(a);
  return c;
}

}  // namespace

std::vector<RampStep> ParseRamp(const std::wstring& text) {
  std::vector<RampStep> ramp;
  for (const std::wstring& item : NonEmptyList(text, L"--rampe")) {
    const std::vector<std::wstring> pair = Split(item, L':');
    if (pair.size() != 2) {
      throw UsageError(L"--rampe: \"" + item + L"\" ist kein Schritt Stunden:Prozent.");
    }
    const RampStep step{static_cast<int>(Number(pair[0], 0, kMaxRampHours, L"--rampe (Stunden)")),
                        static_cast<int>(Number(pair[1], 0, 100, L"--rampe (Prozent)"))};
    if (!ramp.empty() && (step.hours <= ramp.back().hours || step.percent < ramp.back().percent)) {
      throw UsageError(L"--rampe: die Stunden müssen steigen, die Prozente dürfen nicht fallen (" +
                       item + L").");
    }
    ramp.push_back(step);
  }
  if (ramp.size() > kMaxRampSteps) {
    throw UsageError(L"--rampe: höchstens " + std::to_wstring(kMaxRampSteps) + L" Schritte.");
  }
  return ramp;
}

ToolRequest ParseToolCommandLine(const std::vector<std::wstring>& arguments) {
  Arguments a = SplitArguments(arguments);
  if (a.command == L"schluessel") {
    ExpectPositional(a, 2);
    ExpectNoMoreOptions(a);
    return KeyPairRequest{a.positional[0], a.positional[1]};
  }
  if (a.command == L"release") return ParseRelease(a);
  if (a.command == L"zeitstempel" || a.command == L"anhalten" || a.command == L"fortsetzen") {
    return ParseTimestamp(a);
  }
  if (a.command == L"pruefen") return ParseCheck(a);
  throw UsageError(L"Unbekannter Befehl: " + arguments[0]);
}

std::vector<std::wstring> UsageLines() {
  return {
      L"Aufruf:",
      L"  KORVAL_Release_Tool schluessel <privater Schlüssel> <öffentlicher Schlüssel>",
      L"  KORVAL_Release_Tool release <Releaseschlüssel> <DLL> <DLL-URL> <Ordner>",
      L"      --rampe 0:1,2:10,24:50,48:100 --zeitstempelschluessel <Datei>[,<Datei>...]",
      L"      [--sequenz N] [--ablauf-wochen W] [--zurueckgezogen 2.1.0.0,2.0.0.3]",
      L"      [--veroeffentlicht <Unix-Sekunden>] [--weiterer-schluessel <privater Schlüssel>]",
      L"      [--patch-von <frühere DLL>[,<DLL>...] [--patch-adresse <URL des Patch-Ordners>]]",
      L"  KORVAL_Release_Tool zeitstempel <Zeitstempelschlüssel> <Ordner> [--deckel P]",
      L"      [--ablauf-stunden H] [--ausgestellt <Unix-Sekunden>]",
      L"  KORVAL_Release_Tool anhalten <Zeitstempelschlüssel> <Ordner> [--ablauf-stunden H]",
      L"  KORVAL_Release_Tool fortsetzen <Zeitstempelschlüssel> <Ordner> [--deckel P]",
      L"      [--ablauf-stunden H]",
      L"  KORVAL_Release_Tool pruefen <Ordner> \"<Releaseschlüssel>[;<nächster>]\"",
      L"      [--maschine <Kennung> --version <installierte Version>]",
      L"      [--bekannte-zeitstempelsequenz N] [--bekannte-releasesequenz N]",
      L"Exit-Code: 0 erledigt, 1 abgelehnt oder fehlgeschlagen, 87 Aufruf fehlerhaft.",
  };
}
