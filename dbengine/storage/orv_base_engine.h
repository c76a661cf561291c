#pragma once
// The storage-independent table and database layer: database data, table data with its
// record manager, the field, index and constraint managers, and record bitmaps. The storage
// kinds include this and derive from the abstract parts.
#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_engine_bitmap.h"
#include "dbengine/storage/orv_base_engine_constraints.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_base_engine_table.h"
