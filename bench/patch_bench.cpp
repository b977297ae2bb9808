// Patch sizes and decode times of the delta downloads (core/PatchCodec) for a hotfix and a release
// of a synthetic x64 DLL of about 20 MB. The DLL is linked here from a generated program the way a
// compiler and linker lay one out, so that a changed function shifts everything after it: every
// call and RIP-relative reference that crosses the shift, the .pdata table, the vtables' absolute
// addresses and the header's time stamp change with it, as between two real builds.
//
// Usage: patch_bench [decode-runs]   (default 7; the median is printed)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/PatchCodec.h"

namespace {

using namespace std::literals;

constexpr std::uint32_t kSeed = 20240521;
constexpr int kModules = 1560;  // object files, linked in order
constexpr int kFunctionsPerModule = 46;
constexpr int kStringsPerModule = 40;
constexpr int kLibraryFunctions = 2000;  // the runtime, called from everywhere
constexpr int kImages = 50;
constexpr int kImagesReplaced = 5;         // in a release
constexpr std::uint32_t kImports = 600;    // slots of the import address table
constexpr std::uint32_t kGlobals = 65536;  // 8-byte slots of .data
constexpr std::uint32_t kTextRva = 0x1000;
constexpr std::uint64_t kImageBase = 0x180000000;

// Shares of the instructions, as measured with objdump on MinGW's libstdc++-6.dll and
// libgnat-12.dll: 5.7-6.5 % calls, 2.4-3.1 % RIP-relative memory operands.
constexpr double kCalls = 0.06;
constexpr double kStringReferences = 0.015;
constexpr double kImportCalls = 0.005;
constexpr double kGlobalReferences = 0.01;

enum class Ref : std::uint8_t { None, Call, String, Import, Global };

// One instruction: its bytes, followed for a reference by the rel32 the linker resolves.
struct Instruction {
  std::string bytes;
  Ref ref = Ref::None;
  std::uint32_t target = 0;  // a function id, a string id, an import slot, a global slot
};

struct Function {
  std::uint32_t id;
  int module;
  std::vector<Instruction> code;
};

struct Item {
  std::uint32_t id;
  std::string bytes;
};

struct Program {
  std::vector<Function> functions;  // in link order
  std::vector<Item> strings;        // .rdata, in link order
  std::vector<std::vector<std::uint32_t>> vtables;
  std::string data, resources;
  std::vector<std::size_t> imageAt;  // where each image starts in the resources
  std::uint32_t build = 0;
  std::uint32_t nextFunctionId = 0, nextStringId = 0;
};

const std::string_view kPlain[] = {"\x48\x89\x5C\x24?"sv,
                                   "\x48\x83\xEC?"sv,
                                   "\x48\x8B\x4D?"sv,
                                   "\x8B\x45?"sv,
                                   "\x89\x45?"sv,
                                   "\x48\x85\xC0"sv,
                                   "\x74?"sv,
                                   "\x75?"sv,
                                   "\xEB?"sv,
                                   "\x33\xC0"sv,
                                   "\x48\x8B\xC8"sv,
                                   "\x48\x8B\xD3"sv,
                                   "\x41\xB8????"sv,
                                   "\x0F\xB6\x41?"sv,
                                   "\x48\x8D\x54\x24?"sv,
                                   "\x3B\xC1"sv,
                                   "\x0F\x84????"sv,
                                   "\x48\x83\xC4?"sv,
                                   "\xC7\x44\x24??\x00\x00\x00"sv,
                                   "\x8B\xD8"sv,
                                   "\x48\x8B\x01"sv,
                                   "\xFF\x50?"sv,
                                   "\x85\xC9"sv,
                                   "\x0F\x1F\x44\x00\x00"sv,
                                   "\x4C\x8B\xC3"sv,
                                   "\x66\x89\x47?"sv,
                                   "\x83\xF8?"sv,
                                   "\x7E?"sv};
const char* const kWords[] = {"Datei",   "konnte",  "nicht",   "geladen",  "werden",  "Fehler",
                              "beim",    "Lesen",   "der",     "Version",  "invalid", "value",
                              "for",     "key",     "server",  "Antwort",  "Eintrag", "fehlt",
                              "timeout", "after",   "seconds", "Konto",    "Buchung", "Beleg",
                              "Summe",   "Kunde",   "%s",      "%d",       "%08X",    "failed",
                              "ok",      "Mandant", "Periode", "gesperrt", "Zeile",   "Spalte"};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t Below(std::uint32_t n) { return rng_() % n; }
  // Plain arithmetic on the engine's output (no std:: distributions): the same bytes on every
  // standard library.
  double Unit() { return rng_() / 4294967296.0; }
  bool Chance(double p) { return Unit() < p; }
  std::string Random(std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng_() & 0xFF);
    return s;
  }

  Instruction Plain() {
    std::string_view form = kPlain[Below(std::size(kPlain))];
    Instruction out;
    for (char c : form) out.bytes += c != '?' ? c : static_cast<char>(Operand());
    return out;
  }

  // A call or a reference as compiled code has them: mostly within the own module, often into
  // the runtime, now and then anywhere.
  Instruction Any(const Program& p, int module) {
    double roll = Unit();
    if (roll < kCalls) return {"\xE8", Ref::Call, CallTarget(p, module)};
    if ((roll -= kCalls) < kStringReferences) {
      const char* lea[] = {"\x48\x8D\x0D", "\x48\x8D\x15", "\x4C\x8D\x05"};
      std::uint32_t local = module * kStringsPerModule + Below(kStringsPerModule);
      return {lea[Below(3)], Ref::String, Chance(0.8) ? local : Below(p.nextStringId)};
    }
    if ((roll -= kStringReferences) < kImportCalls)
      return {"\xFF\x15", Ref::Import, Below(kImports)};
    if ((roll -= kImportCalls) < kGlobalReferences)
      return {"\x8B\x05", Ref::Global, Below(kGlobals)};
    return Plain();
  }

  Function MakeFunction(const Program& p, std::uint32_t id, int module) {
    Function f{id, module, {}};
    f.code.push_back({"\x48\x89\x5C\x24\x08\x57\x48\x83\xEC"s + static_cast<char>(Operand())});
    int length = 6 + static_cast<int>(-36 * std::log(1 - Unit()));
    for (int i = 0; i < length; ++i) f.code.push_back(Any(p, module));
    f.code.push_back({"\x48\x83\xC4\x20\x5F\xC3"s});
    return f;
  }

  std::string Text() {
    std::string s;
    for (std::uint32_t n = 2 + Below(9); n > 0; --n) s += kWords[Below(std::size(kWords))] + " "s;
    s.back() = '\0';
    return s;
  }

 private:
  std::uint8_t Operand() {
    return Chance(0.8) ? static_cast<std::uint8_t>(8 * (1 + Below(15))) : rng_() & 0xFF;
  }
  std::uint32_t CallTarget(const Program& p, int module) {
    double roll = Unit();
    if (roll < 0.6) return module * kFunctionsPerModule + Below(kFunctionsPerModule);
    if (roll < 0.85) return std::min(Below(kLibraryFunctions), Below(kLibraryFunctions));
    return Below(p.nextFunctionId);
  }
  std::mt19937 rng_;
};

void Put(std::string& out, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
void Append(std::string& out, std::uint64_t value, int bytes) {
  out.append(bytes, '\0');
  Put(out, out.size() - bytes, value, bytes);
}
std::uint32_t Align(std::size_t value, std::size_t to) {
  return static_cast<std::uint32_t>((value + to - 1) / to * to);
}

// Lays the program out as a PE image (file offsets equal to RVAs) and resolves every reference.
std::string Link(const Program& p) {
  struct Fixup {
    std::size_t at;
    Ref ref;
    std::uint32_t target;
  };
  std::vector<std::uint32_t> functionRva(p.nextFunctionId), functionEnd(p.nextFunctionId);
  std::vector<std::uint32_t> stringRva(p.nextStringId);
  std::vector<Fixup> fixups;
  std::string text;
  for (const Function& f : p.functions) {
    functionRva[f.id] = kTextRva + static_cast<std::uint32_t>(text.size());
    for (const Instruction& i : f.code) {
      text += i.bytes;
      if (i.ref != Ref::None) fixups.push_back({text.size(), i.ref, i.target}), text.append(4, 0);
    }
    functionEnd[f.id] = kTextRva + static_cast<std::uint32_t>(text.size());
    text.resize(Align(text.size(), 16), '\xCC');
  }
  std::uint32_t rdataRva = Align(kTextRva + text.size(), 0x1000);
  std::string rdata;
  for (std::uint32_t i = 0; i < kImports; ++i) Append(rdata, 0x7000000 + 32 * i, 8);
  std::uint32_t unwindRva = rdataRva + static_cast<std::uint32_t>(rdata.size());
  for (const Function& f : p.functions) {
    rdata += "\x01\x0A\x04\x00\x0A"s + f.code.front().bytes.back() + "\x06\x00"s;
  }
  for (const Item& s : p.strings) {
    stringRva[s.id] = rdataRva + static_cast<std::uint32_t>(rdata.size());
    rdata += s.bytes;
    rdata.resize(Align(rdata.size(), 8), '\0');
  }
  std::vector<std::uint32_t> absolute;  // RVAs of the vtables' slots, for .reloc
  for (const auto& table : p.vtables) {
    for (std::uint32_t id : table) {
      absolute.push_back(rdataRva + static_cast<std::uint32_t>(rdata.size()));
      Append(rdata, kImageBase + functionRva[id], 8);
    }
  }
  std::uint32_t pdataRva = Align(rdataRva + rdata.size(), 0x1000);
  std::string pdata;
  for (std::size_t n = 0; n < p.functions.size(); ++n) {
    Append(pdata, functionRva[p.functions[n].id], 4);
    Append(pdata, functionEnd[p.functions[n].id], 4);
    Append(pdata, unwindRva + 8 * n, 4);
  }
  std::uint32_t dataRva = Align(pdataRva + pdata.size(), 0x1000);
  std::uint32_t rsrcRva = Align(dataRva + p.data.size(), 0x1000);
  std::uint32_t relocRva = Align(rsrcRva + p.resources.size(), 0x1000);
  std::string reloc;
  for (std::size_t n = 0; n < absolute.size();) {
    std::uint32_t page = absolute[n] & ~0xFFFu;
    std::size_t end = n;
    while (end < absolute.size() && (absolute[end] & ~0xFFFu) == page) ++end;
    Append(reloc, page, 4);
    Append(reloc, 8 + 2 * (end - n), 4);
    for (; n < end; ++n) Append(reloc, 0xA000 | (absolute[n] & 0xFFF), 2);
  }
  for (const Fixup& f : fixups) {
    std::uint32_t target = f.ref == Ref::Call     ? functionRva[f.target]
                           : f.ref == Ref::String ? stringRva[f.target]
                           : f.ref == Ref::Import ? rdataRva + 8 * f.target
                                                  : dataRva + 8 * f.target;
    Put(text, f.at, target - (kTextRva + f.at + 4), 4);
  }
  std::string image(Align(relocRva + reloc.size(), 0x200), '\0');
  image.replace(0, 2, "MZ");
  Put(image, 0x3C, 0x80, 4);
  image.replace(0x80, 4, "PE\0\0"sv);
  Put(image, 0x88, 0x60000000u + p.build * 7919u, 4);  // TimeDateStamp
  Put(image, 0xD8, p.build * 2654435761u, 4);          // CheckSum
  image.replace(0x400, 4, "RSDS");                     // the debug directory's PDB GUID
  Put(image, 0x404, p.build * 0x9E3779B97F4A7C15ull, 8);
  std::uint32_t rvas[] = {kTextRva, rdataRva, pdataRva, dataRva, rsrcRva, relocRva};
  const std::string* bodies[] = {&text, &rdata, &pdata, &p.data, &p.resources, &reloc};
  for (int s = 0; s < 6; ++s) {
    Put(image, 0x188 + 40 * s + 8, bodies[s]->size(), 4);
    Put(image, 0x188 + 40 * s + 12, rvas[s], 4);
    image.replace(rvas[s], bodies[s]->size(), *bodies[s]);
  }
  return image;
}

std::string VersionBlock(std::uint32_t build) {
  std::string text = "FileVersion 2.1.0." + std::to_string(build), wide;
  for (char c : text) wide += c, wide += '\0';
  wide.resize(64, '\0');
  return wide;
}

Program MakeBase(Generator& g) {
  Program p;
  p.nextFunctionId = kModules * kFunctionsPerModule;
  p.nextStringId = kModules * kStringsPerModule;
  for (std::uint32_t id = 0; id < p.nextStringId; ++id) p.strings.push_back({id, g.Text()});
  for (int m = 0; m < kModules; ++m) {
    for (int n = 0; n < kFunctionsPerModule; ++n) {
      p.functions.push_back(g.MakeFunction(p, m * kFunctionsPerModule + n, m));
    }
    std::vector<std::uint32_t> table;
    for (int n = 0; n < 8; ++n)
      table.push_back(m * kFunctionsPerModule + g.Below(kFunctionsPerModule));
    p.vtables.push_back(table);
  }
  for (std::uint32_t slot = 0; slot < kGlobals; ++slot) {
    Append(p.data, g.Chance(0.7) ? 0 : g.Below(g.Chance(0.8) ? 256 : 0xFFFFFFFF), 8);
  }
  p.build = 15;
  p.resources = VersionBlock(p.build);
  for (int image = 0; image < kImages; ++image) {
    p.imageAt.push_back(p.resources.size());
    p.resources += g.Random(16'384 + g.Below(49'152));
  }
  p.imageAt.push_back(p.resources.size());
  for (int n = 0; n < 6000; ++n) {
    for (char c : g.Text()) p.resources += c, p.resources += '\0';
  }
  return p;
}

// A recompiled function: some instructions replaced (other registers, other constants), a few
// added or dropped.
void Recompile(Generator& g, const Program& p, Function& f, double share) {
  std::vector<Instruction> code{f.code.front()};
  for (std::size_t i = 1; i + 1 < f.code.size(); ++i) {
    if (g.Chance(share / 8)) continue;
    code.push_back(g.Chance(share) ? g.Any(p, f.module) : f.code[i]);
    if (g.Chance(share / 4)) code.push_back(g.Any(p, f.module));
  }
  code.push_back(f.code.back());
  f.code = std::move(code);
}

void SetVersion(Program& p, std::uint32_t build) {
  p.build = build;
  p.resources.replace(0, 64, VersionBlock(build));
}

// Three functions fixed and one message corrected; everything else recompiles to the same code.
Program MakeHotfix(Program p, Generator& g) {
  for (double at : {0.2, 0.5, 0.8}) {
    Function& f = p.functions[static_cast<std::size_t>(at * p.functions.size())];
    Recompile(g, p, f, 0.3);
    f.code.insert(f.code.begin() + 2, {g.Any(p, f.module), g.Any(p, f.module)});
  }
  p.strings[p.strings.size() / 2].bytes = g.Text();
  SetVersion(p, p.build + 1);
  return p;
}

struct ReleaseFigures {
  std::size_t changed = 0, added = 0;
};

// Half the modules touched; in those, half the functions recompiled, new functions and texts
// among them; a new module in the middle; some images replaced; .data grown.
Program MakeRelease(Program p, Generator& g, ReleaseFigures& figures) {
  std::vector<Function> functions;
  int previous = -1;
  bool touched = false;
  for (Function& f : p.functions) {
    if (f.module != previous) {
      previous = f.module;
      touched = g.Chance(0.5);
      if (f.module == kModules / 2) {
        for (int n = 0; n < 3 * kFunctionsPerModule; ++n) {
          functions.push_back(g.MakeFunction(p, p.nextFunctionId++, f.module));
          ++figures.added;
        }
      }
    }
    if (touched && g.Chance(0.5)) Recompile(g, p, f, 0.3), ++figures.changed;
    functions.push_back(f);
    if (touched && g.Chance(0.05)) {
      functions.push_back(g.MakeFunction(p, p.nextFunctionId++, f.module));
      ++figures.added;
    }
  }
  p.functions = std::move(functions);
  std::vector<Item> strings;
  for (Item& s : p.strings) {
    if (g.Chance(0.12)) s.bytes = g.Text();
    strings.push_back(s);
    if (g.Chance(0.03)) strings.push_back({p.nextStringId++, g.Text()});
  }
  p.strings = std::move(strings);
  for (auto& table : p.vtables) {
    if (g.Chance(0.25)) table.push_back(table.front());
  }
  for (int image = kImages - 1; image >= 0; image -= kImages / kImagesReplaced) {
    std::size_t at = p.imageAt[image], size = p.imageAt[image + 1] - at;
    p.resources.replace(at, size, g.Random(16'384 + g.Below(49'152)));
  }
  p.data.insert(p.data.size() / 2, g.Random(4096));
  SetVersion(p, p.build + 100);
  return p;
}

struct Measurement {
  std::size_t full = 0, patch = 0;
  double makeSeconds = 0, decodeMilliseconds = 0;
};

Measurement Measure(const std::string& base, const std::string& target, int runs) {
  Measurement m;
  m.full = target.size();
  auto start = std::chrono::steady_clock::now();
  std::string patch = MakePatch(base, target);
  m.makeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.patch = patch.size();
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    start = std::chrono::steady_clock::now();
    std::string rebuilt = ApplyPatch(base, patch, target.size());
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (rebuilt != target) {
      std::fprintf(stderr, "patch_bench: the patch did not rebuild the target\n");
      std::exit(1);
    }
  }
  std::sort(times.begin(), times.end());
  m.decodeMilliseconds = times[times.size() / 2];
  return m;
}

std::size_t BytesDifferingInPlace(const std::string& a, const std::string& b) {
  std::size_t differing = std::max(a.size(), b.size()) - std::min(a.size(), b.size());
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) differing += a[i] != b[i];
  return differing;
}

void PrintGoal(const char* text, bool met) {
  std::printf("  %-50s %s\n", text, met ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  Generator generator(kSeed);
  Program baseProgram = MakeBase(generator);
  std::string base = Link(baseProgram);
  std::string hotfix = Link(MakeHotfix(baseProgram, generator));
  ReleaseFigures figures;
  std::string release = Link(MakeRelease(baseProgram, generator, figures));

  std::printf(
      "Delta downloads: zstd \"patch from\" (core/PatchCodec), level 19, long-distance\n"
      "matching, window log %d, the installed DLL as reference prefix.\n\n",
      PatchWindowLog(base.size(), release.size()));
  std::printf("How the builds are made (deterministic, seed %u):\n", kSeed);
  std::printf(
      "  base     a synthetic x64 DLL of %zu bytes, linked by this program: %d object files of\n"
      "           %d functions of generated x86-64 code; calls go 60 %% into the own object\n"
      "           file, 25 %% into %d runtime functions, 15 %% anywhere; of the instructions\n"
      "           %.1f %% are calls and %.1f %% RIP-relative references (as measured on MinGW's\n"
      "           libstdc++-6.dll and libgnat-12.dll) to %d strings, %u imports and %u globals;\n"
      "           .pdata, unwind data, vtables with relocations, %zu KB .data, %zu KB resources\n"
      "           (%d images of random bytes, UTF-16 texts); time stamp, checksum and PDB GUID\n"
      "           in the header.\n",
      base.size(), kModules, kFunctionsPerModule, kLibraryFunctions, 100 * (kCalls + kImportCalls),
      100 * (kStringReferences + kImportCalls + kGlobalReferences), kModules * kStringsPerModule,
      kImports, kGlobals, baseProgram.data.size() / 1024, baseProgram.resources.size() / 1024,
      kImages);
  std::printf(
      "  hotfix   3 functions recompiled (30 %% of their instructions replaced, 2 added), one\n"
      "           message rewritten, new version, time stamp, checksum and GUID, relinked: the\n"
      "           code after each changed function moves.\n");
  std::printf(
      "  release  half the object files touched and in them half the functions recompiled\n"
      "           (%zu of %zu functions, %.0f %%), %zu new functions (a new object file of %d in\n"
      "           the middle, the others scattered), 12 %% of the texts rewritten and 3 %% added,\n"
      "           a quarter of the vtables grown, %d of %d images replaced, 4 KB more .data,\n"
      "           new version, relinked.\n",
      figures.changed, baseProgram.functions.size(),
      100.0 * figures.changed / baseProgram.functions.size(), figures.added,
      3 * kFunctionsPerModule, kImagesReplaced, kImages);
  std::printf("  bytes that differ in place from the base: hotfix %.1f %%, release %.1f %%\n\n",
              100.0 * BytesDifferingInPlace(base, hotfix) / base.size(),
              100.0 * BytesDifferingInPlace(base, release) / base.size());

  Measurement hot = Measure(base, hotfix, runs);
  Measurement rel = Measure(base, release, runs);
  std::printf("%-9s %12s %12s %8s %22s %10s\n", "build", "full bytes", "patch bytes", "ratio",
              "decode ms (median)", "make s");
  for (auto [name, m] : {std::pair{"hotfix", hot}, std::pair{"release", rel}}) {
    std::printf("%-9s %12zu %12zu %7.2f%% %15.1f (of %d) %10.1f\n", name, m.full, m.patch,
                100.0 * m.patch / m.full, m.decodeMilliseconds, runs, m.makeSeconds);
  }
  std::printf("\nGoals\n");
  PrintGoal("hotfix patch below 5 % of the DLL", 100.0 * hot.patch / hot.full < 5);
  PrintGoal("release patch below 30 % of the DLL", 100.0 * rel.patch / rel.full < 30);
  return 0;
}
