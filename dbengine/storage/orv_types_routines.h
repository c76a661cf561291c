#pragma once
// Sizing and filling of value buffers.
#include <cstdint>

#include "dbengine/storage/orv_types.h"

namespace orv {

// Bytes a value of DataType takes in a memory record buffer for a declared size DataSize
// (characters for text, bytes for byte arrays). bftUnknown and bftBFile: 30050.
int32_t GetDataSizeInMemory(TORVBaseFieldType DataType, int32_t DataSize);

// A new MemoryManager buffer holding one value of DataType, and its size. For the string
// types Value points to a pointer to zero-terminated text (char for bftChar/bftVarchar,
// char16_t for bftWideChar/bftWideVarchar; a nil text is the empty text), for every other
// type Value points to the value itself. A type without a value form or a failed allocation
// leaves Buffer nil and raises nothing (the value then reads as NULL); a failure after the
// buffer was obtained frees it and raises 30054.
void AllocMemAndSetData(TORVBaseFieldType DataType, const void* Value, void*& Buffer, int32_t& DataSize);

}  // namespace orv
