// The ZIP format as the read-back sees it: record signatures and sizes, and
// little-endian fields read from the bytes where they lie. Shared by the
// check that follows the archive as it is written and the one that reads
// the finished archive.
#pragma once

#include "common/result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelzar::zip_bytes {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralSize = 46;
// Entry data are inflated in pieces of this much.
constexpr std::size_t kPiece = 64 * 1024;

inline std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(U16(p)) | (static_cast<std::uint32_t>(U16(p + 2)) << 16);
}

inline std::uint64_t U64(const unsigned char* p) {
    return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}

// What the read-back found wrong, as the run reports it.
inline Failure Damaged(const std::string& what) {
    return Failure{0, "verify: " + what, {}};
}

} // namespace kelzar::zip_bytes
