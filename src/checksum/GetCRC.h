#pragma once

#include "platform/Errors.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The CRC-32 of a file's contents (initial value 0xFFFFFFFF, reflected, polynomial
// 0xEDB88320, final XOR 0xFFFFFFFF: the checksum of zlib), as eight upper-case
// hexadecimal digits.
namespace kurumu::checksum {

// The 256 entries of the reflected table, held as constants.
extern const std::array<std::uint32_t, 256> kCrcTableConstants;

// The table, entry by entry and byte by byte (entry n's lowest byte first); all zero
// until the first checksum builds them.
extern std::array<std::uint32_t, 256> lngCRCTable;
extern std::array<std::uint8_t, 1024> bytCRCTable;

void MakeCRCTable();

// The ways of carrying the register over a buffer; all give the same value.
enum class CrcMethod {
    Reference,  // one table step per byte, on the register's four bytes
    Slicing16,  // sixteen bytes per step with sixteen tables
    Pclmul,     // carry-less multiplication folding, 128 bits wide
    Vpclmul,    // carry-less multiplication folding, 512 bits wide
};

bool methodAvailable(CrcMethod method);
// The fastest method this processor has.
CrcMethod fastestMethod();

// Carries the register (the CRC before its final XOR) over the bytes.
std::uint32_t crc32Update(std::uint32_t crcRegister, std::span<const std::byte> bytes, CrcMethod method);
inline constexpr std::uint32_t kCrcInitial = 0xFFFFFFFFu;

// The eight-digit text of a finished register.
QString crcText(std::uint32_t crcRegister);

// The checksum text of a buffer.
QString CalcCRC(std::span<const std::byte> bytes);

// The checksum text of a file, read in blocks; the empty text for an empty path or an
// empty file. A file that cannot be measured or read gives its error.
platform::Result<QString> GetFileCRC(const QString& path);

}  // namespace kurumu::checksum
