#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kurumu::checksum::detail {

std::uint32_t slicing16Update(std::uint32_t crcRegister, std::span<const std::byte> bytes);
std::uint32_t pclmulUpdate(std::uint32_t crcRegister, std::span<const std::byte> bytes);
std::uint32_t vpclmulUpdate(std::uint32_t crcRegister, std::span<const std::byte> bytes);
bool hasPclmul();
bool hasVpclmul();

}  // namespace kurumu::checksum::detail
