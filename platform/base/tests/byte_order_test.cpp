#include "platform/base/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

namespace platform {
namespace {

// Expected bytes as Python's struct.pack('<Q' / '>Q', 0x0102030405060708) gives them.
TEST(ByteOrder, MatchesTheStatedOrderBothWays) {
  const uint8_t le[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  const uint8_t be[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(LoadLE64(le), 0x0102030405060708u);
  EXPECT_EQ(LoadBE64(be), 0x0102030405060708u);
  EXPECT_EQ(LoadLE32(le), 0x05060708u);
  EXPECT_EQ(LoadBE32(be), 0x01020304u);
  EXPECT_EQ(LoadLE16(le), 0x0708u);
  EXPECT_EQ(LoadBE16(be), 0x0102u);
  uint8_t out[8] = {};
  StoreLE64(out, 0x0102030405060708u);
  EXPECT_EQ(0, memcmp(out, le, 8));
  StoreBE64(out, 0x0102030405060708u);
  EXPECT_EQ(0, memcmp(out, be, 8));
  StoreLE32(out, 0xFFFEFDFCu);
  EXPECT_EQ(out[0], 0xFC);
  EXPECT_EQ(out[3], 0xFF);
  StoreBE16(out, 0xABCD);
  EXPECT_EQ(out[0], 0xAB);
  StoreLE16(out, 0xABCD);
  EXPECT_EQ(out[0], 0xCD);
  StoreBE32(out, 0x11223344u);
  EXPECT_EQ(out[3], 0x44);
}

}  // namespace
}  // namespace platform
