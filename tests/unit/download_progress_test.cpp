#include <gtest/gtest.h>

#include "core/DownloadProgress.h"

namespace {
constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t kMinute = 60000;

struct ProgressCase {
  const char* name;
  std::uint64_t bytesPerSecond;  // a steady transfer; 0: none after the first report
  std::uint64_t size;            // the body; the transfer ends when it is whole
  ProgressVerdict verdict;
  std::uint64_t atSecond;  // when the verdict is reached (or the transfer ends)
};

// A steady transfer reported once a second, as a reader of chunks would.
std::pair<ProgressVerdict, std::uint64_t> RunSteady(const ProgressCase& c) {
  ProgressWatch watch(ProgressRule(), 5000);
  for (std::uint64_t second = 1;; ++second) {
    const std::uint64_t bytes = std::min(c.size, c.bytesPerSecond * second);
    const ProgressVerdict v = watch.Observe(bytes, 5000 + second * 1000);
    if (v != ProgressVerdict::Continue || bytes == c.size) return {v, second};
  }
}

const ProgressCase kCases[] = {
    // 10 MB at 3 KB/s: 58 minutes, far beyond the old 10-minute limit, and it completes.
    {"steady 3 KB/s for an hour completes", 3000, 10'000'000, ProgressVerdict::Continue, 3334},
    {"steady 1 KiB/s is just enough", 1 * KiB, 4 * 1024 * KiB, ProgressVerdict::Continue, 4096},
    {"530 B/s stalls after two minutes", 530, 10'000'000, ProgressVerdict::Stalled, 121},
    {"nothing at all stalls after two minutes", 0, 10'000'000, ProgressVerdict::Stalled, 121},
    {"2 KB/s for 200 MB ends after two hours", 2000, 200'000'000, ProgressVerdict::TooLong, 7201},
};

TEST(ProgressWatch, SteadyTransfers) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const auto [verdict, second] = RunSteady(c);
    EXPECT_EQ(verdict, c.verdict);
    EXPECT_EQ(second, c.atSecond);
  }
}

TEST(ProgressWatch, AnyTwoMinutesCountAndTheFirstVerdictStays) {
  ProgressWatch watch(ProgressRule(), 0);
  EXPECT_EQ(watch.Observe(64 * KiB, 60000), ProgressVerdict::Continue);  // window restarts at 1:00
  EXPECT_EQ(watch.DeadlineMilliseconds(), 60000 + 2 * kMinute);
  EXPECT_EQ(watch.Observe(127 * KiB, 3 * kMinute), ProgressVerdict::Continue);
  // Bytes that arrive after their window has run out came too late.
  EXPECT_EQ(watch.Observe(200 * KiB, 3 * kMinute + 1), ProgressVerdict::Stalled);
  EXPECT_EQ(watch.Observe(900 * KiB, 3 * kMinute + 2), ProgressVerdict::Stalled);
  EXPECT_EQ(ProgressFailureText(ProgressVerdict::Stalled, watch.Rule()),
            L"Der Download stockt: in 2 Minuten kamen weniger als 64 KiB an.");
  EXPECT_EQ(ProgressFailureText(ProgressVerdict::TooLong, watch.Rule()),
            L"Der Download hat länger als 2 Stunden gedauert.");
}

TEST(ProgressWatch, AClockThatGoesBackNeverStallsATransfer) {
  ProgressWatch watch(ProgressRule(), 10 * kMinute);
  EXPECT_EQ(watch.Observe(0, 0), ProgressVerdict::Continue);
  EXPECT_EQ(watch.Observe(64 * KiB, 11 * kMinute), ProgressVerdict::Continue);
}
}  // namespace
