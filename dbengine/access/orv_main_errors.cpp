#include "dbengine/access/orv_main_errors.h"

#include <utility>

#include "dbengine/storage/orv_const.h"

namespace orv {

namespace {

std::string MessageText(int32_t ErrorCode, const std::string& ErrMessage) {
  return ErrorCode == ORV_ERR_CONSTRAINT_VIOLATED ? ErrMessage : EngineErrorText(ErrorCode);
}

}  // namespace

std::string EngineErrorText(int32_t ErrorCode) {
  switch (ErrorCode) {
    case ORV_ERR_INSERT_RECORD: return "Error adding record";
    case ORV_ERR_UPDATE_RECORD: return "Error updating record";
    case ORV_ERR_DELETE_RECORD: return "Error deleting record";
    case ORV_ERR_UPDATE_RECORD_MODIFIED: return "Error updating record - record was modified by other process";
    case ORV_ERR_DELETE_RECORD_MODIFIED: return "Error deleting record - record was modified by other process";
    case ORV_ERR_UPDATE_RECORD_DELETED: return "Error updating record - record was deleted by other process";
    case ORV_ERR_DELETE_RECORD_DELETED: return "Error deleting record - record was deleted by other process";
    case ORV_ERR_UPDATE_RECORD_PROHIBITED: return "Cannot update record in temporary mode";
    case ORV_ERR_DELETE_RECORD_PROHIBITED: return "Cannot delete record in temporary mode";
    case ORV_ERR_CANCEL_PROHIBITED: return "Cannot cancel operation in temporary mode";
    case ORV_ERR_RECORD_LOCKED: return "Record is locked";
    case ORV_ERR_TABLE_LOCKED: return "Table is locked";
    default: return {};
  }
}

EORVEngineError::EORVEngineError(int32_t ErrorCode, const std::string& ErrMessage)
    : EORVEngineError(ErrorCode, MessageText(ErrorCode, ErrMessage), 0) {}

EORVEngineError::EORVEngineError(int32_t ErrorCode, std::string ErrorMessage, int)
    : EDatabaseError("Orveta Engine Error # " + std::to_string(ErrorCode) + " " + ErrorMessage),
      FErrorCode(ErrorCode),
      FErrorMessage(std::move(ErrorMessage)) {}

void DbiError(int32_t ErrorCode, const std::string& ErrMessage) { throw EORVEngineError(ErrorCode, ErrMessage); }

void Check(int32_t ErrorCode, const std::string& ErrMessage) {
  if (ErrorCode != ORV_ERR_OK) DbiError(ErrorCode, ErrMessage);
}

}  // namespace orv
