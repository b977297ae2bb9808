#pragma once
// When a running download has failed by time: it must keep moving, not finish by a fixed hour.
// A transfer that shares a crowded link with many others may take long and still succeed; one
// that has stalled is given up soon. Called step by step with the bytes so far and the time, so
// that a simulated fleet runs the same rule in virtual time.

#include <cstdint>
#include <string>

struct ProgressRule {
  std::uint64_t minBytes = 64 * 1024;  // must arrive within every windowMilliseconds
  std::uint64_t windowMilliseconds = 120000;
  std::uint64_t maxMilliseconds = 7200000;  // the whole transfer, however it progresses
};

enum class ProgressVerdict { Continue, Stalled, TooLong };

// The progress of one transfer. The window starts at the transfer's start and starts again each
// time minBytes more than at its start have arrived; the transfer is stalled when a window is
// older than windowMilliseconds without that. The first verdict other than Continue stays.
class ProgressWatch {
 public:
  ProgressWatch(ProgressRule rule, std::uint64_t startMilliseconds);

  // bytes: received so far (never less than before); now: on the clock of the start.
  ProgressVerdict Observe(std::uint64_t bytes, std::uint64_t nowMilliseconds);
  // The latest time at which the next Observe can still answer Continue without new bytes:
  // a caller that waits for data need not wait past it.
  std::uint64_t DeadlineMilliseconds() const;
  const ProgressRule& Rule() const { return rule_; }

 private:
  ProgressRule rule_;
  std::uint64_t start_;
  std::uint64_t windowStart_;
  std::uint64_t windowBytes_ = 0;
  ProgressVerdict verdict_ = ProgressVerdict::Continue;
};

// The run log's reason for a verdict other than Continue, with the rule's figures.
std::wstring ProgressFailureText(ProgressVerdict verdict, const ProgressRule& rule);
