// Sixteen bytes per step: table k carries a byte across k further byte positions.
#include "checksum/Crc32Internal.h"
#include "checksum/GetCRC.h"

#include <array>
#include <cstring>

namespace kurumu::checksum::detail {

namespace {

using SlicingTables = std::array<std::array<std::uint32_t, 256>, 16>;

SlicingTables makeSlicingTables() {
    SlicingTables tables{};
    tables[0] = kCrcTableConstants;
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

const SlicingTables& slicingTables() {
    static const SlicingTables tables = makeSlicingTables();
    return tables;
}

std::uint32_t load32(const std::byte* p) {
    std::uint32_t value = 0;
    std::memcpy(&value, p, sizeof value);  // little-endian machines only
    return value;
}

}  // namespace

std::uint32_t slicing16Update(std::uint32_t crcRegister, std::span<const std::byte> bytes) {
    const SlicingTables& t = slicingTables();
    const std::byte* p = bytes.data();
    std::size_t size = bytes.size();
    std::uint32_t crc = crcRegister;
    while (size >= 16) {
        const std::uint32_t a = load32(p) ^ crc;
        const std::uint32_t b = load32(p + 4);
        const std::uint32_t c = load32(p + 8);
        const std::uint32_t d = load32(p + 12);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^ t[11][b & 0xFF] ^
              t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^
              t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^
              t[0][d >> 24];
        p += 16;
        size -= 16;
    }
    for (; size > 0; --size, ++p) crc = (crc >> 8) ^ t[0][(crc ^ static_cast<std::uint8_t>(*p)) & 0xFF];
    return crc;
}

}  // namespace kurumu::checksum::detail
