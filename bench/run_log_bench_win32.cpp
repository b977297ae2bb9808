// Cost of one run-log entry on a real file as the log grows: the time of 100 entries after the
// log has reached 1,000, 10,000 and 100,000 lines. An entry must cost the same at every size
// (the 100,000 figure within 1.5 times the 1,000 figure); a full rewrite is shown for contrast.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Models/RunLogFile.h"
#include "win32/Win32LogFileStore.h"
#include "win32/Win32TextCodec.h"

namespace {

constexpr int kEntriesPerRound = 100;
constexpr int kRounds = 7;

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring Line(std::size_t n) {
  return L"05.06.2025 12:00:05: Prüfe auf neue Version. Eintrag " + std::to_wstring(n);
}

struct Log {
  Win32LogFileStore store;
  Win32TextCodec codec;
  RunLogFile file;
  std::wstring path;
  std::vector<std::wstring> lines;

  void Add() {
    lines.push_back(Line(lines.size()));
    file.Save(store, codec, path, lines);
  }
};

// Microseconds per entry: the median of several rounds of 100 entries each.
double MicrosecondsPerEntry(Log& log) {
  std::vector<double> rounds;
  for (int r = 0; r < kRounds; ++r) {
    double start = Seconds();
    for (int i = 0; i < kEntriesPerRound; ++i) log.Add();
    rounds.push_back((Seconds() - start) * 1e6 / kEntriesPerRound);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[rounds.size() / 2];
}

double FullRewriteMicroseconds(Log& log) {
  RunLogFile fresh;
  double start = Seconds();
  fresh.Save(log.store, log.codec, log.path, log.lines);
  return (Seconds() - start) * 1e6;
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  Log log;
  log.path = std::wstring(temp) + L"korval_run_log_bench_" +
             std::to_wstring(GetCurrentProcessId()) + L".txt";
  log.lines.reserve(110000);

  const std::size_t sizes[] = {1000, 10000, 100000};
  double perEntry[3] = {};
  for (int k = 0; k < 3; ++k) {
    while (log.lines.size() < sizes[k]) log.lines.push_back(Line(log.lines.size()));
    log.file.Save(log.store, log.codec, log.path, log.lines);
    perEntry[k] = MicrosecondsPerEntry(log);
    std::printf("%7zu entries: %8.1f us per entry\n", sizes[k], perEntry[k]);
  }
  std::printf("full rewrite of %zu entries: %.1f us\n", log.lines.size(),
              FullRewriteMicroseconds(log));
  double ratio = perEntry[2] / perEntry[0];
  std::printf("ratio 100,000 / 1,000: %.2f (limit 1.5) %s\n", ratio,
              ratio <= 1.5 ? "OK" : "TOO HIGH");
  DeleteFileW(log.path.c_str());
  return ratio <= 1.5 ? 0 : 1;
}
