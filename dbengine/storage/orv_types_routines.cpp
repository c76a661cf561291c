#include "dbengine/storage/orv_types_routines.h"

#include <cstring>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {
namespace {

const char* SqlName(TORVBaseFieldType t) {
  switch (t) {
    case bftChar: return "CHAR";
    case bftVarchar: return "STRING";
    case bftWideChar: return "WIDECHAR";
    case bftWideVarchar: return "WIDESTRING";
    case bftSignedInt8: return "SHORTINT";
    case bftSignedInt16: return "SMALLINT";
    case bftSignedInt32: return "INTEGER";
    case bftSignedInt64: return "LARGEINT";
    case bftUnsignedInt8: return "BYTE";
    case bftUnsignedInt16: return "WORD";
    case bftUnsignedInt32: return "CARDINAL";
    case bftSingle: return "SINGLE";
    case bftDouble: return "FLOAT";
    case bftExtended: return "EXTENDED";
    case bftDate: return "DATE";
    case bftTime: return "TIME";
    case bftDateTime: return "DATETIME";
    case bftBlob: return "BLOB";
    case bftClob: return "MEMO";
    case bftWideClob: return "WIDEMEMO";
    case bftLogical: return "LOGICAL";
    case bftCurrency: return "CURRENCY";
    case bftBytes: return "BYTES";
    case bftVarBytes: return "VARBYTES";
    default: return "Unknown";
  }
}

bool IsEightBitText(TORVBaseFieldType t) { return t == bftChar || t == bftVarchar; }
bool IsWideText(TORVBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }

}  // namespace

int32_t GetDataSizeInMemory(TORVBaseFieldType DataType, int32_t DataSize) {
  switch (DataType) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      return DataSize + 1;
    case bftWideChar:
    case bftWideVarchar:
      return (DataSize + 1) * 2;
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency:
      return 8;
    case bftExtended:
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return 10;
    default:
      throw EORVException(30050, "Unknown DataType: '%s'", {SqlName(DataType)});
  }
}

void AllocMemAndSetData(TORVBaseFieldType DataType, const void* Value, void*& Buffer, int32_t& DataSize) {
  Buffer = nullptr;
  int32_t size = 0;
  size_t copy = 0;
  const void* source = nullptr;
  try {
    if (IsEightBitText(DataType)) {
      const char* text = Value ? *static_cast<const char* const*>(Value) : nullptr;
      const size_t len = text ? std::strlen(text) : 0;
      size = GetDataSizeInMemory(DataType, static_cast<int32_t>(len));
      source = text;
      copy = len;
    } else if (IsWideText(DataType)) {
      const char16_t* text = Value ? *static_cast<const char16_t* const*>(Value) : nullptr;
      size_t len = 0;
      if (text)
        while (text[len] != 0) ++len;
      size = GetDataSizeInMemory(DataType, static_cast<int32_t>(len));
      source = text;
      copy = len * 2;
    } else {
      size = GetDataSizeInMemory(DataType, 0);
      source = Value;
      copy = static_cast<size_t>(size);
    }
    Buffer = MemoryManager().GetMem(size);
  } catch (...) {
    // No buffer yet: the value reads as NULL.
    Buffer = nullptr;
    DataSize = 0;
    return;
  }
  if (!source && copy > 0) {
    MemoryManager().FreeAndNillMem(Buffer);
    throw EORVException(30054, "Cannot copy data into new memory");
  }
  // The text's terminator (1 or 2 zero bytes) is the buffer's tail.
  std::memset(Buffer, 0, static_cast<size_t>(size));
  if (copy > 0) std::memcpy(Buffer, source, copy);
  DataSize = size;
}

}  // namespace orv
