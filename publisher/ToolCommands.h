#pragma once
// The release tool's commands. Each prints its German lines and returns when it is done; a
// refusal (the request would publish what hosts refuse, or pruefen finds the files refused)
// raises Refused, any other failure Exception. Nothing is written after either.

#include <cstdint>

#include "ReleaseToolArgs.h"
#include "platform/ConsoleOutput.h"

class Refused : public Exception {
 public:
  using Exception::Exception;
};

void RunKeyPair(const KeyPairRequest& request, ConsoleOutput& out);
void RunRelease(const ReleaseRequest& request, ConsoleOutput& out, std::int64_t nowUnix);
void RunTimestamp(const TimestampRequest& request, ConsoleOutput& out, std::int64_t nowUnix);
void RunCheck(const CheckRequest& request, ConsoleOutput& out, std::int64_t nowUnix);
