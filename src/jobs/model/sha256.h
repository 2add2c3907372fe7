// SHA-256 (FIPS 180-4), enough to fingerprint a short secret without a crypto library: the
// build for Windows has none. Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zb {

std::array<std::uint8_t, 32> Sha256(std::string_view data);

// The digest as 64 lower-case hexadecimal digits, as sha256sum prints it.
std::string Sha256Hex(std::string_view data);

}  // namespace zb
