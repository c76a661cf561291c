#include "dbengine/storage/orv_types_routines.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/storage/orv_memory.h"

namespace orv {
namespace {

TEST(GetDataSizeInMemory, SizesPerType) {
  struct Case {
    TORVBaseFieldType type;
    int32_t declared;
    int32_t size;
  };
  const Case cases[] = {
      {bftVarchar, 20, 21},  {bftChar, 0, 1},         {bftWideVarchar, 20, 42}, {bftWideChar, 0, 2},
      {bftBytes, 16, 17},    {bftVarBytes, 3, 4},     {bftSignedInt8, 0, 1},    {bftUnsignedInt8, 0, 1},
      {bftSignedInt16, 0, 2}, {bftUnsignedInt16, 0, 2}, {bftLogical, 0, 2},     {bftSignedInt32, 0, 4},
      {bftUnsignedInt32, 0, 4}, {bftSingle, 0, 4},    {bftDate, 0, 4},          {bftTime, 0, 4},
      {bftSignedInt64, 0, 8}, {bftDouble, 0, 8},      {bftDateTime, 0, 8},      {bftCurrency, 0, 8},
      {bftExtended, 0, 10},  {bftBlob, 0, 10},        {bftClob, 0, 10},         {bftWideClob, 0, 10},
  };
  for (const auto& c : cases) EXPECT_EQ(GetDataSizeInMemory(c.type, c.declared), c.size) << int(c.type);
  for (auto t : {bftUnknown, bftBFile}) {
    try {
      GetDataSizeInMemory(t, 0);
      FAIL();
    } catch (const EORVException& e) {
      EXPECT_EQ(e.NativeError(), 30050);
      EXPECT_STREQ(e.what(), "Unknown DataType: 'Unknown' - Native error: 30050");
    }
  }
}

TEST(AllocMemAndSetData, TextsCarryTheirTerminator) {
  const int64_t before = MemoryManager().TotalMemAllocated();
  void* buffer = nullptr;
  int32_t size = -1;
  const char* ab = "ab";
  AllocMemAndSetData(bftVarchar, &ab, buffer, size);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(buffer), 3);
  EXPECT_EQ(std::memcmp(buffer, "ab\0", 3), 0);
  MemoryManager().FreeAndNillMem(buffer);

  const char* empty = "";
  AllocMemAndSetData(bftChar, &empty, buffer, size);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(static_cast<char*>(buffer)[0], 0);
  MemoryManager().FreeAndNillMem(buffer);

  const char16_t* wide = u"\u00e9t\u00e9";
  AllocMemAndSetData(bftWideVarchar, &wide, buffer, size);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(std::memcmp(buffer, u"\u00e9t\u00e9", 8), 0);
  MemoryManager().FreeAndNillMem(buffer);

  const int32_t value = -123456;
  AllocMemAndSetData(bftSignedInt32, &value, buffer, size);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(std::memcmp(buffer, &value, 4), 0);
  MemoryManager().FreeAndNillMem(buffer);
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before);
}

TEST(AllocMemAndSetData, TypesWithoutValueFormGiveNil) {
  const int64_t before = MemoryManager().TotalMemAllocated();
  const int32_t value = 5;
  void* buffer = reinterpret_cast<void*>(0x10);
  int32_t size = 0;
  EXPECT_NO_THROW(AllocMemAndSetData(bftUnknown, &value, buffer, size));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_NO_THROW(AllocMemAndSetData(bftBFile, &value, buffer, size));
  EXPECT_EQ(buffer, nullptr);
  // A missing value cannot be copied: the buffer is released and the error reported.
  try {
    AllocMemAndSetData(bftDouble, nullptr, buffer, size);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30054);
  }
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before);
}

}  // namespace
}  // namespace orv
