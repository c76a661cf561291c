#pragma once
// The engine reports every failure as EORVException with the native code of its raise site;
// the tests check that code (and, where it matters, the whole message).
#include <gtest/gtest.h>

#include <cstdint>

#include "dbengine/storage/orv_except.h"

namespace orv {

template <class F>
void ExpectCode(int32_t code, F&& f, const char* text = nullptr) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << code;
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), code) << e.what();
    if (text) {
      EXPECT_STREQ(e.what(), text);
    }
  }
}

}  // namespace orv
