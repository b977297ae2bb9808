#pragma once
// When a cycle that failed for a passing reason is tried again, and how long a server's
// Retry-After keeps every request away from it. Pure functions of the times given (seconds on
// one clock) and of a random value the caller draws, so that a fleet of simulated hosts and the
// service decide alike.

#include <cstdint>
#include <optional>
#include <string>

// Retry n (1 for the first) waits up to 5 minutes times 2^(n-1), never more than 2 hours.
std::int64_t RetryBaseSeconds(int retryNumber);

// Full jitter: a delay spread evenly over [0, RetryBaseSeconds(retryNumber)] by `random` (any
// 64-bit value), so that hosts that failed together do not come back together.
std::int64_t JitteredRetrySeconds(int retryNumber, std::uint64_t random);

// When retry n runs: `now` plus its jittered delay, but not before `notBefore` (a server's
// Retry-After, or 0). Nothing when that is not before `windowEnd`, the start of the next window:
// a retry never runs into it.
std::optional<std::int64_t> RetryAt(int retryNumber, std::int64_t now, std::int64_t notBefore,
                                    std::int64_t windowEnd, std::uint64_t random);

// A Retry-After is honoured up to this far ahead; a value further ahead is ignored.
constexpr std::int64_t kMaxRetryAfterSeconds = 24 * 3600;

// The Unix time until which a Retry-After header asks to wait, given the Unix time now: either
// delta seconds (digits only) or an HTTP date (IMF-fixdate, RFC 850 or asctime form, GMT).
// Nothing for an empty, malformed or past value, or one further ahead than
// kMaxRetryAfterSeconds.
std::optional<std::int64_t> RetryAfterUntil(const std::wstring& value, std::int64_t nowUnix);

// Whether a status asks the client to come back later (429 Too Many Requests, 503 Service
// Unavailable): only then is a Retry-After honoured.
bool IsComeBackLaterStatus(int status);
