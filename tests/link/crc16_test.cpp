#include "link/crc16.h"

#include <gtest/gtest.h>

#include <string_view>

namespace corvel::link {
namespace {

uint16_t CrcOf(std::string_view text) {
  return Crc16(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

TEST(Crc16, CheckValues) {
  EXPECT_EQ(CrcOf("123456789"), 0x31C3);
  EXPECT_EQ(CrcOf("abc"), 0x9DD6);
  EXPECT_EQ(CrcOf(""), 0x0000);
  const uint8_t header[] = {0x12, 0x00, 0x01, 0x00};  // code, length, payload of a disconnect
  EXPECT_EQ(Crc16(header, 4), 0xC5FE);
}

}  // namespace
}  // namespace corvel::link
