#include "dbengine/access/orv_main_errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

struct ErrorCase {
  int32_t code;
  const char* text;  // ErrorMessage with or without a caller's text (-8: the caller's)
};

const std::vector<ErrorCase> kCases = {
    {-1, "Error adding record"},
    {-2, "Error updating record"},
    {-3, "Error deleting record"},
    {-4, "Error updating record - record was modified by other process"},
    {-5, "Error deleting record - record was modified by other process"},
    {-6, "Error updating record - record was deleted by other process"},
    {-7, "Error deleting record - record was deleted by other process"},
    {-8, nullptr},
    {-9, "Cannot update record in temporary mode"},
    {-10, "Cannot delete record in temporary mode"},
    {-11, "Cannot cancel operation in temporary mode"},
    {-12, "Record is locked"},
    {-13, "Table is locked"},
    {-14, ""},
    {0, ""},
};

// Every code with and without a caller's text: the text counts only for -8; the message is the
// banner, the code with its sign, one space and the code's text.
TEST(EngineErrorTest, MessagesOfEveryCodeWithAndWithoutACallersText) {
  for (const ErrorCase& c : kCases) {
    for (const std::string& caller : {std::string(), std::string("C_PK$ID violated - Native error: 30286")}) {
      SCOPED_TRACE(std::to_string(c.code) + " / '" + caller + "'");
      const std::string expected_text = c.text ? c.text : caller;
      try {
        DbiError(c.code, caller);
        ADD_FAILURE() << "DbiError raised nothing";
      } catch (const platform::data::EDatabaseError& e) {
        const auto* engine = dynamic_cast<const EORVEngineError*>(&e);
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(engine->ErrorCode(), c.code);
        EXPECT_EQ(engine->ErrorMessage(), expected_text);
        EXPECT_EQ(std::string(e.what()), "Orveta Engine Error # " + std::to_string(c.code) + " " + expected_text);
      }
    }
  }
  EXPECT_EQ(std::string(EORVEngineError(-12, "ignored").what()), "Orveta Engine Error # -12 Record is locked");
  EXPECT_EQ(std::string(EORVEngineError(-14, "ignored").what()), "Orveta Engine Error # -14 ");
}

TEST(EngineErrorTest, CheckRaisesForEveryCodeButZero) {
  EXPECT_NO_THROW(Check(0, "any text"));
  EXPECT_NO_THROW(Check(0));
  for (const ErrorCase& c : kCases) {
    if (c.code == 0) continue;
    EXPECT_THROW(Check(c.code, "text"), EORVEngineError) << c.code;
  }
  // DbiError raises for 0 as well: its message then ends with the digit and one space.
  try {
    DbiError(0, "text");
    ADD_FAILURE();
  } catch (const EORVEngineError& e) {
    EXPECT_STREQ(e.what(), "Orveta Engine Error # 0 ");
  }
}

}  // namespace
}  // namespace orv
