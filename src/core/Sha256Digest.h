#pragma once
// SHA-256 (FIPS 180-4) without the platform: the core needs it where no CNG is at hand (the
// per-host offset, which a simulated fleet computes natively).

#include <array>
#include <cstdint>
#include <string_view>

using Sha256Bytes = std::array<std::uint8_t, 32>;

Sha256Bytes Sha256Digest(std::string_view data);
