#pragma once
// The expected outcomes of record operations (a record changed or deleted by another process,
// a locked record or table, a refused change, an operation a temporary table does not allow)
// as one error with a small negative code. The cursor leaves the code and a text after every
// record operation; the dataset passes them to Check right after it. Because the error is a
// database error of the data layer, the dataset's post, edit and delete error events receive
// it like any other and the application reads ErrorCode there.
#include <cstdint>
#include <string>

#include "platform/data/database_error.h"

namespace orv {

class EORVEngineError : public platform::data::EDatabaseError {
 public:
  // ErrorMessage is the fixed text of the code (-1 .. -13), the caller's text only for -8,
  // and empty for any other code; ErrMessage is ignored for every code but -8. The message is
  // "Orveta Engine Error # ", the code in decimal, one space and ErrorMessage.
  EORVEngineError(int32_t ErrorCode, const std::string& ErrMessage);

  int32_t ErrorCode() const { return FErrorCode; }
  const std::string& ErrorMessage() const { return FErrorMessage; }

 private:
  EORVEngineError(int32_t ErrorCode, std::string ErrorMessage, int /*tag*/);

  int32_t FErrorCode;
  std::string FErrorMessage;
};

// The fixed text of a result code; empty for -8 (the caller's text stands there) and for a
// code outside -1 .. -13.
std::string EngineErrorText(int32_t ErrorCode);

// Raises EORVEngineError for every code, 0 included.
[[noreturn]] void DbiError(int32_t ErrorCode, const std::string& ErrMessage = {});
// Raises nothing for 0, else DbiError.
void Check(int32_t ErrorCode, const std::string& ErrMessage = {});

}  // namespace orv
