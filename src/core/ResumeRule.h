#pragma once
// When a cut-off DLL download may go on where it stopped, and how the server's answer is judged.
//
// What a partial file holds is kept beside it in a small record: the address the transfer began
// with, the server's ETag for the whole file, the whole file's size and the bytes held. The next
// attempt asks only for the rest ("Range: bytes=N-" with "If-Range: <ETag>") when the ETag is a
// strong one (a weak or missing one does not promise equal bytes), the address and the expected
// size are still those of the record (else a new release is published), and 0 < N < size. Of
// the answers only a 206 whose Content-Range is exactly "bytes N-(size-1)/size" continues the
// partial file; a 200 sends the whole file again from byte 0; any other 206 and a 416 are
// refused, and the partial file is dropped. The whole file is checked after the transfer as
// ever: this rule only decides which bytes are asked for.

#include <cstdint>
#include <optional>
#include <string>

#include "core/HttpFetch.h"

struct PartialRecord {
  std::wstring url;         // the address the transfer began with (before redirects)
  std::wstring etag;        // the server's ETag for the whole file, as it was sent
  std::uint64_t total = 0;  // the whole file's size; 0: not known
  std::uint64_t held = 0;   // the bytes at the start of the partial file

  bool operator==(const PartialRecord&) const = default;
};

// Whether the record describes bytes a later attempt could go on from: a strong ETag, a known
// size, and 0 < held < total.
bool WorthKeeping(const PartialRecord& record);

// Whether the next attempt at url may ask for the rest of the partial file. expectedTotal: the
// size the caller knows the file to have (a signed release gives it); 0 when it does not know.
bool MayResume(const PartialRecord& record, const std::wstring& url, std::uint64_t expectedTotal);

// The request headers that ask for the rest: "Range: bytes=N-" and "If-Range: <ETag>", each
// ended by CR LF.
std::wstring RangeRequestHeaders(const PartialRecord& record);

struct ContentRange {
  std::uint64_t first = 0, last = 0, total = 0;
};

// "bytes FIRST-LAST/TOTAL" with decimal digits only, the one blank after "bytes" and nothing
// else, first <= last < total. std::nullopt for anything else ("bytes */TOTAL" included).
std::optional<ContentRange> ParseContentRange(const std::wstring& text);

enum class RangeAnswer {
  Continue,       // the rest of the partial file follows: append it
  StartOver,      // the whole file follows: drop the partial bytes, write from byte 0
  Refused,        // an answer that fits no request: drop the partial file, fail the attempt
  LeavesPartial,  // no body for the file (an error status): the partial file stays as it is
};

// The final answer's status and Content-Range header to a request that asked from askedFrom
// (0: the whole file was asked for, without Range) of a file of total bytes.
RangeAnswer JudgeRangeAnswer(std::uint64_t askedFrom, std::uint64_t total, int status,
                             const std::wstring& contentRange);

// The reason of a refused 206 (German, for the run log).
std::wstring RefusedRangeText(const std::wstring& contentRange);
// The reason of a transfer whose body ended before the whole file had arrived.
std::wstring CutOffText(std::uint64_t held, std::uint64_t total);

// The record as the service keeps it: UTF-8 "KEY=value" lines under a header.
std::string FormatPartialRecord(const PartialRecord& record);

struct ParsedPartialRecord {
  std::optional<PartialRecord> record;
  std::wstring whyNot;  // why there is none (German), when record is empty
};

// Never raises. Every key exactly once, nothing else; the values as FormatPartialRecord writes
// them, the ETag a strong one and 0 < held < total; anything else gives no record.
ParsedPartialRecord ParsePartialRecord(const std::string& bytes);
