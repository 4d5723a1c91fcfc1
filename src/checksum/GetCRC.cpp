#include "checksum/GetCRC.h"

#include "checksum/Crc32Internal.h"
#include "platform/FileSystem.h"

#include <cstring>

namespace kurumu::checksum {

std::array<std::uint32_t, 256> lngCRCTable{};
std::array<std::uint8_t, 1024> bytCRCTable{};

void MakeCRCTable() {
    lngCRCTable = kCrcTableConstants;
    static_assert(sizeof(bytCRCTable) == sizeof(lngCRCTable));
    std::memcpy(bytCRCTable.data(), lngCRCTable.data(), sizeof(bytCRCTable));  // little-endian entries
}

namespace {

void ensureTables() {
    if (lngCRCTable[255] == 0) MakeCRCTable();
}

// The table step on the register's four bytes r0 (lowest) to r3.
std::uint32_t referenceUpdate(std::uint32_t crcRegister, std::span<const std::byte> bytes) {
    ensureTables();
    auto r0 = static_cast<std::uint8_t>(crcRegister);
    auto r1 = static_cast<std::uint8_t>(crcRegister >> 8);
    auto r2 = static_cast<std::uint8_t>(crcRegister >> 16);
    auto r3 = static_cast<std::uint8_t>(crcRegister >> 24);
    const auto& table = bytCRCTable;
    for (const std::byte b : bytes) {
        const std::size_t i = static_cast<std::uint8_t>(b) ^ r0;
        r0 = table[4 * i] ^ r1;
        r1 = table[4 * i + 1] ^ r2;
        r2 = table[4 * i + 2] ^ r3;
        r3 = table[4 * i + 3];
    }
    return std::uint32_t{r0} | std::uint32_t{r1} << 8 | std::uint32_t{r2} << 16 | std::uint32_t{r3} << 24;
}

}  // namespace

bool methodAvailable(CrcMethod method) {
    switch (method) {
        case CrcMethod::Reference:
        case CrcMethod::Slicing16:
            return true;
        case CrcMethod::Pclmul:
            return detail::hasPclmul();
        case CrcMethod::Vpclmul:
            return detail::hasVpclmul();
    }
    return false;
}

CrcMethod fastestMethod() {
    static const CrcMethod best = [] {
        if (methodAvailable(CrcMethod::Vpclmul)) return CrcMethod::Vpclmul;
        if (methodAvailable(CrcMethod::Pclmul)) return CrcMethod::Pclmul;
        return CrcMethod::Slicing16;
    }();
    return best;
}

std::uint32_t crc32Update(std::uint32_t crcRegister, std::span<const std::byte> bytes, CrcMethod method) {
    switch (method) {
        case CrcMethod::Reference:
            return referenceUpdate(crcRegister, bytes);
        case CrcMethod::Slicing16:
            return detail::slicing16Update(crcRegister, bytes);
        case CrcMethod::Pclmul:
            return detail::pclmulUpdate(crcRegister, bytes);
        case CrcMethod::Vpclmul:
            return detail::vpclmulUpdate(crcRegister, bytes);
    }
    return crcRegister;
}

QString crcText(std::uint32_t crcRegister) {
    return QStringLiteral("%1").arg(~crcRegister, 8, 16, QLatin1Char('0')).toUpper();
}

QString CalcCRC(std::span<const std::byte> bytes) {
    return crcText(crc32Update(kCrcInitial, bytes, fastestMethod()));
}

platform::Result<QString> GetFileCRC(const QString& path) {
    if (path.isEmpty()) return {};
    std::uint32_t crcRegister = kCrcInitial;
    std::size_t length = 0;
    const CrcMethod method = fastestMethod();
    const platform::Status read =
        platform::readFileBlocks(path, [&crcRegister, &length, method](const std::byte* data, std::size_t size) {
            crcRegister = crc32Update(crcRegister, {data, size}, method);
            length += size;
        });
    if (!read.ok()) return {{}, read};
    if (length == 0) return {};  // no checksum for an empty file
    return {crcText(crcRegister), {}};
}

}  // namespace kurumu::checksum
