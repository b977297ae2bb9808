#pragma once
// The patch of a delta download: one zstd frame that rebuilds a new copy of a file from the
// installed copy (zstd's "patch from" mode: the installed copy is the reference the frame's
// matches point into). The publisher's tool makes it; the service applies it, and then checks
// the result's SHA-256 against the signed release files: a patch applied to another base than
// the one it was made from may yield other bytes without an error.

#include <cstdint>
#include <string>

// The window log a patch from base to target is made with: as zstd --patch-from chooses it, one
// more than the highest set bit of the larger size (a window beyond both files, so every match
// can reach back over the whole base), at least zstd's minimum (10). Raises Exception when a file
// is larger than the largest window (2 GiB).
int PatchWindowLog(std::uint64_t baseSize, std::uint64_t targetSize);

// The window log a frame of expectedSize bytes needs at most: the smallest w with 2^w >=
// expectedSize, at least 10. Raises Exception beyond 2 GiB.
int PatchWindowLogLimit(std::uint64_t expectedSize);

// A patch that turns base into target: zstd level 19 with long-distance matching, the base as
// reference prefix, the target's size and a checksum of its content in the frame.
std::string MakePatch(const std::string& base, const std::string& target);

// The file the patch makes from base. Reads the frame's header first and refuses, before it
// allocates the output, a patch that is not exactly one zstd frame, declares no size or another
// size than expectedSize, or asks for a larger window than expectedSize needs; then decodes into
// a buffer of exactly expectedSize bytes. Every refusal and every decoding error (truncated or
// damaged data, wrong checksum) raises Exception with a German message.
std::string ApplyPatch(const std::string& base, const std::string& patch,
                       std::uint64_t expectedSize);
