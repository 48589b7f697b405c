#pragma once
// CRC-32 (the one of zip, PNG and Ethernet: polynomial 0xEDB88320, reflected,
// inverted at both ends), to tell a file that was cut or changed from the one
// that was written.
#include <cstddef>
#include <cstdint>

namespace checksum {

// The CRC of `size` bytes following on from the CRC `crc` of the bytes before
// them (0 for none): crc32(b, m, crc32(a, n)) is the CRC of a then b.
std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace checksum
