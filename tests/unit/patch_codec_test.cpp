#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "core/PatchCodec.h"
#include "support/ExceptionMessage.h"

namespace {

const std::wstring kDamaged = L"Der Patch ist beschädigt: ";
const std::wstring kOtherSize = L"Der Patch erzeugt eine Datei anderer Größe (";

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(engine() & 0xFF);
  return bytes;
}

// The installed build: pseudo-random, so that nothing but the base itself can make a patch small.
std::string Base() { return RandomBytes(128 * 1024, 1); }

// A hotfix: three small functions changed in place, the layout unchanged.
std::string Hotfix(const std::string& base) {
  std::string build = base;
  for (std::size_t at : {5'000u, 61'000u, 120'000u}) build.replace(at, 48, RandomBytes(48, at));
  return build;
}

// A release: a few bytes changed every 2 KiB (addresses and constants that moved), a new block of
// code in the middle that shifts everything after it, and a longer tail.
std::string Release(const std::string& base) {
  std::string build = base;
  for (std::size_t at = 700, n = 0; at + 16 < build.size(); at += 2048, ++n) {
    build.replace(at, 4 + n % 12, RandomBytes(4 + n % 12, 1000 + static_cast<std::uint32_t>(n)));
  }
  build.insert(64 * 1024, RandomBytes(6 * 1024, 7));
  return build + RandomBytes(3 * 1024, 8);
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// --- the window ----------------------------------------------------------------------------

struct WindowCase {
  std::uint64_t baseSize, targetSize;
  int windowLog;  // 0: refused
};

class PatchWindowLogTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(PatchWindowLogTest, ReachesOverTheLargerFile) {
  const WindowCase& c = GetParam();
  if (c.windowLog == 0) {
    EXPECT_THROW(PatchWindowLog(c.baseSize, c.targetSize), Exception);
    return;
  }
  EXPECT_EQ(PatchWindowLog(c.baseSize, c.targetSize), c.windowLog);
  EXPECT_GT(std::uint64_t{1} << c.windowLog, std::max(c.baseSize, c.targetSize));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PatchWindowLogTest,
    ::testing::Values(WindowCase{0, 0, 10}, WindowCase{1000, 1, 10}, WindowCase{1023, 1023, 10},
                      WindowCase{1024, 0, 11}, WindowCase{0, 1024, 11},
                      WindowCase{20'000'000, 21'000'000, 25}, WindowCase{33'554'432, 1, 26},
                      WindowCase{0x7FFF'FFFF, 0, 31}, WindowCase{0x8000'0000, 0, 0},
                      WindowCase{1, 0x1'0000'0000, 0}));

struct LimitCase {
  std::uint64_t expectedSize;
  int windowLog;  // 0: refused
};

class PatchWindowLogLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(PatchWindowLogLimitTest, IsTheSmallestWindowThatHoldsTheFile) {
  const LimitCase& c = GetParam();
  if (c.windowLog == 0) {
    EXPECT_THROW(PatchWindowLogLimit(c.expectedSize), Exception);
    return;
  }
  EXPECT_EQ(PatchWindowLogLimit(c.expectedSize), c.windowLog);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PatchWindowLogLimitTest,
                         ::testing::Values(LimitCase{0, 10}, LimitCase{1024, 10},
                                           LimitCase{1025, 11}, LimitCase{20'000'000, 25},
                                           LimitCase{0x8000'0000, 31}, LimitCase{0x8000'0001, 0}));

// --- round trips ---------------------------------------------------------------------------

struct RoundTripCase {
  const char* name;
  std::function<std::string(const std::string&)> base;
  std::function<std::string(const std::string&)> target;
  double maxPatchShare;  // of the target's size
};

class RoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, RebuildsTheTargetFromItsBase) {
  const RoundTripCase& c = GetParam();
  std::string base = c.base(Base());
  std::string target = c.target(Base());
  std::string patch = MakePatch(base, target);
  EXPECT_EQ(ApplyPatch(base, patch, target.size()), target);
  EXPECT_LE(static_cast<double>(patch.size()), c.maxPatchShare * std::max<double>(target.size(), 1))
      << patch.size() << " bytes for " << target.size();
}

std::string Same(const std::string& base) { return base; }
std::string Nothing(const std::string&) { return {}; }

INSTANTIATE_TEST_SUITE_P(
    Builds, RoundTripTest,
    ::testing::Values(RoundTripCase{"hotfix", Same, Hotfix, 0.01},
                      RoundTripCase{"release", Same, Release, 0.12},
                      RoundTripCase{"unchanged", Same, Same, 0.01},
                      // Without a base, the random bytes cannot shrink: the patch is the file.
                      RoundTripCase{"no_base", Nothing, Hotfix, 1.01},
                      RoundTripCase{"empty_target", Same, Nothing, 64},
                      // A build that shrank below a power of two the base reached.
                      RoundTripCase{"shrunk", Same,
                                    [](const std::string& b) { return b.substr(0, 100 * 1024); },
                                    0.01}),
    [](const auto& info) { return std::string(info.param.name); });

// --- a patch applied to another base -------------------------------------------------------

struct WrongBaseCase {
  const char* name;
  std::function<std::string(const std::string&)> base;
};

class WrongBaseTest : public ::testing::TestWithParam<WrongBaseCase> {};

// The frame's checksum makes this an error in practice; the caller's SHA-256 would catch a
// result that slipped through, so a different result is an acceptable outcome too.
TEST_P(WrongBaseTest, NeverYieldsTheTarget) {
  std::string target = Release(Base());
  std::string patch = MakePatch(Base(), target);
  std::string base = GetParam().base(Base());
  try {
    EXPECT_NE(ApplyPatch(base, patch, target.size()), target);
  } catch (const Exception& e) {
    EXPECT_TRUE(StartsWith(e.Message(), kDamaged)) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Bases, WrongBaseTest,
                         ::testing::Values(WrongBaseCase{"empty", Nothing},
                                           WrongBaseCase{"other_build",
                                                         [](const std::string&) {
                                                           return RandomBytes(128 * 1024, 2);
                                                         }},
                                           WrongBaseCase{"one_byte_changed",
                                                         [](const std::string& base) {
                                                           std::string changed = base;
                                                           changed[90'000] ^= 0x01;
                                                           return changed;
                                                         }},
                                           WrongBaseCase{"shorter",
                                                         [](const std::string& base) {
                                                           return base.substr(0, base.size() / 2);
                                                         }}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- damaged patches -----------------------------------------------------------------------

TEST(ApplyPatch, RefusesATruncatedPatch) {
  std::string target = Hotfix(Base());
  std::string patch = MakePatch(Base(), target);
  for (std::size_t length : {std::size_t{0}, std::size_t{3}, std::size_t{5}, std::size_t{12},
                             patch.size() / 2, patch.size() - 4, patch.size() - 1}) {
    std::wstring message =
        MessageOf([&] { ApplyPatch(Base(), patch.substr(0, length), target.size()); });
    EXPECT_TRUE(StartsWith(message, kDamaged)) << length << " bytes";
  }
}

struct TrailingCase {
  const char* name;
  std::function<std::string(const std::string&)> tail;
};

class TrailingDataTest : public ::testing::TestWithParam<TrailingCase> {};

TEST_P(TrailingDataTest, IsRefused) {
  std::string target = Hotfix(Base());
  std::string patch = MakePatch(Base(), target);
  std::string tail = GetParam().tail(patch);
  std::wstring message = MessageOf([&] { ApplyPatch(Base(), patch + tail, target.size()); });
  EXPECT_EQ(message,
            kDamaged + L"Nach dem Frame folgen noch " + std::to_wstring(tail.size()) + L" Bytes");
}

INSTANTIATE_TEST_SUITE_P(
    Tails, TrailingDataTest,
    ::testing::Values(
        TrailingCase{"one_byte", [](const std::string&) { return std::string(1, 'x'); }},
        TrailingCase{"garbage", [](const std::string&) { return RandomBytes(100, 3); }},
        TrailingCase{"second_frame", [](const std::string& patch) { return patch; }},
        TrailingCase{"skippable_frame",
                     [](const std::string&) {
                       return std::string("\x50\x2A\x4D\x18\x02\x00\x00\x00zz", 10);
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

// Every single flipped bit of a hotfix patch: an error, or (for a bit the decoder never reads)
// exactly the target, because the frame carries a checksum of its content. Under ASan this also
// shows that no damaged frame reads or writes out of bounds.
TEST(ApplyPatch, AFlippedBitNeverYieldsOtherBytes) {
  std::string base = Base();
  std::string target = Hotfix(base);
  std::string patch = MakePatch(base, target);
  std::size_t refused = 0, unchanged = 0;
  for (std::size_t bit = 0; bit < patch.size() * 8; ++bit) {
    std::string damaged = patch;
    damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
    try {
      ASSERT_EQ(ApplyPatch(base, damaged, target.size()), target) << "bit " << bit;
      ++unchanged;
    } catch (const Exception& e) {
      ASSERT_TRUE(StartsWith(e.Message(), kDamaged) || StartsWith(e.Message(), kOtherSize))
          << e.what();
      ++refused;
    }
  }
  EXPECT_GT(refused, 20 * unchanged) << refused << " refused, " << unchanged << " unchanged";
}

// --- the declared size ---------------------------------------------------------------------

TEST(ApplyPatch, RefusesAnotherDeclaredSizeFromTheHeaderAlone) {
  std::string target = Release(Base());
  std::string patch = MakePatch(Base(), target);
  std::string headerOnly = patch.substr(0, 18);  // the header, the frame's blocks cut off
  for (std::uint64_t expected : {std::uint64_t{0}, std::uint64_t{target.size() - 1},
                                 std::uint64_t{target.size() + 1}, std::uint64_t{0x6000'0000}}) {
    std::wstring want = kOtherSize + std::to_wstring(target.size()) + L" statt " +
                        std::to_wstring(expected) + L" Bytes)";
    EXPECT_EQ(MessageOf([&] { ApplyPatch(Base(), patch, expected); }), want);
    EXPECT_EQ(MessageOf([&] { ApplyPatch(Base(), headerOnly, expected); }), want);
  }
  // Only the right size gets as far as the frame's blocks.
  EXPECT_EQ(MessageOf([&] { ApplyPatch(Base(), headerOnly, target.size()); }),
            kDamaged + L"Der Frame ist unvollständig");
}

TEST(ApplyPatch, RefusesAnExpectedSizeBeyondTheLargestWindow) {
  std::string patch = MakePatch(Base(), Hotfix(Base()));
  EXPECT_TRUE(StartsWith(MessageOf([&] { ApplyPatch(Base(), patch, std::uint64_t{1} << 40); }),
                         L"Die Datei ist für einen Patch zu groß"));
}

// --- frames written by hand ----------------------------------------------------------------

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

struct HandFrame {
  bool singleSegment = true;
  int windowLog = 10;  // when not single segment
  bool declaresSize = true;
  std::uint64_t declaredSize;  // when declaresSize
};

// One zstd frame (RFC 8878) of one raw block holding payload, without checksum.
std::string FrameByHand(const HandFrame& frame, const std::string& payload) {
  std::string out;
  PutLittleEndian(out, 0xFD2FB528, 4);
  int sizeFlag = frame.declaresSize ? 2 : 0;  // 2: four bytes
  out += static_cast<char>((sizeFlag << 6) | (frame.singleSegment ? 0x20 : 0));
  if (!frame.singleSegment) out += static_cast<char>((frame.windowLog - 10) << 3);
  if (frame.declaresSize) PutLittleEndian(out, frame.declaredSize, 4);
  PutLittleEndian(out, 1 | (payload.size() << 3), 3);  // last block, raw
  return out + payload;
}

struct HandCase {
  const char* name;
  std::string patch;
  std::wstring message;  // empty: decodes to the payload
};

const std::string kPayload = RandomBytes(600, 4);

class HandFrameTest : public ::testing::TestWithParam<HandCase> {};

TEST_P(HandFrameTest, DecodesOrRefuses) {
  const HandCase& c = GetParam();
  if (c.message.empty()) {
    EXPECT_EQ(ApplyPatch(Base(), c.patch, kPayload.size()), kPayload);
  } else {
    EXPECT_EQ(MessageOf([&] { ApplyPatch(Base(), c.patch, kPayload.size()); }), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, HandFrameTest,
    ::testing::Values(
        HandCase{"single_segment", FrameByHand({true, 0, true, 600}, kPayload), L""},
        HandCase{"window_that_fits", FrameByHand({false, 10, true, 600}, kPayload), L""},
        HandCase{"window_too_large", FrameByHand({false, 11, true, 600}, kPayload),
                 kDamaged + L"Das Fenster des Frames (2048 Bytes) ist größer, als die Datei "
                            L"braucht"},
        HandCase{"window_of_2_GiB", FrameByHand({false, 31, true, 600}, kPayload),
                 kDamaged + L"Das Fenster des Frames (2147483648 Bytes) ist größer, als die "
                            L"Datei braucht"},
        HandCase{"no_size", FrameByHand({false, 10, false, 0}, kPayload),
                 kDamaged + L"Der Kopf des Frames nennt die Größe der Datei nicht"},
        HandCase{"block_longer_than_declared", FrameByHand({true, 0, true, 600}, kPayload + "x"),
                 kDamaged + L"Die Daten lassen sich nicht entpacken (zstd: Destination buffer "
                            L"is too small)"},
        HandCase{"skippable", std::string("\x50\x2A\x4D\x18\x58\x02\x00\x00", 8) + kPayload,
                 kDamaged + L"Er beginnt mit einem überspringbaren Frame"},
        HandCase{"empty", "", kDamaged + L"Der Kopf des Frames ist unvollständig"},
        HandCase{"not_zstd", std::string("MZ\x90\x00\x03\x00\x00\x00", 8),
                 kDamaged + L"Er beginnt nicht mit einem zstd-Frame (zstd: Unknown frame "
                            L"descriptor)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
