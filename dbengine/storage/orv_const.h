#pragma once
// The engine's fixed tables and shared constants: SQL reserved words, page types, markers and
// limits, defaults of a new database, lock retry settings and the result codes of record
// operations. Everything here is constant data shared by every layer of the engine.
#include <array>
#include <cstdint>
#include <string_view>

namespace orv {

// ---- SQL reserved words -----------------------------------------------------------------
// Indexes 0..229 are the SQL-92 words, 230..291 the engine's own. The lexer compares
// upper-cased token texts with the table.
enum TReservedWord : uint16_t {
  rwABSOLUTE, rwACTION, rwADD, rwALL, rwALLOCATE, rwALTER, rwAND, rwANY, rwARE, rwAS, rwASC,
  rwASSERTION, rwAT, rwAUTHORIZATION, rwAVG, rwBEGIN, rwBETWEEN, rwBIT, rwBIT_LENGTH, rwBOTH, rwBY,
  rwCASCADE, rwCASCADED, rwCASE, rwCAST, rwCATALOG, rwCHAR, rwCHARACTER, rwCHAR_LENGTH,
  rwCHARACTER_LENGTH, rwCHECK, rwCLOSE, rwCOALESCE, rwCOLLATE, rwCOLLATION, rwCOLUMN, rwCOMMIT,
  rwCONNECT, rwCONNECTION, rwCONSTRAINT, rwCONSTRAINTS, rwCONTINUE, rwCONVERT, rwCORRESPONDING,
  rwCOUNT, rwCREATE, rwCROSS, rwCURRENT, rwCURRENT_DATE, rwCURRENT_TIME, rwCURRENT_TIMESTAMP,
  rwCURRENT_USER, rwCURSOR, rwDATE, rwDAY, rwDEALLOCATE, rwDEC, rwDECIMAL, rwDECLARE, rwDEFAULT,
  rwDEFERRABLE, rwDEFERRED, rwDELETE, rwDESC, rwDESCRIBE, rwDESCRIPTOR, rwDIAGNOSTICS,
  rwDISCONNECT, rwDISTINCT, rwDOMAIN, rwDOUBLE, rwDROP, rwELSE, rwEND, rwEND_EXEC, rwESCAPE,
  rwEXCEPT, rwEXCEPTION, rwEXEC, rwEXECUTE, rwEXISTS, rwEXTERNAL, rwEXTRACT, rwFALSE, rwFETCH,
  rwFIRST, rwFLOAT, rwFOR, rwFOREIGN, rwFOUND, rwFROM, rwFULL, rwGET, rwGLOBAL, rwGO, rwGOTO,
  rwGRANT, rwGROUP, rwHAVING, rwHOUR, rwIDENTITY, rwIMMEDIATE, rwIN, rwINDICATOR, rwINITIALLY,
  rwINNER, rwINPUT, rwINSENSITIVE, rwINSERT, rwINT, rwINTEGER, rwINTERSECT, rwINTERVAL, rwINTO,
  rwIS, rwISOLATION, rwJOIN, rwKEY, rwLANGUAGE, rwLAST, rwLEADING, rwLEFT, rwLEVEL, rwLIKE,
  rwLOCAL, rwLOWER, rwMATCH, rwMAX, rwMEMORY, rwMIN, rwMINUS, rwMINUTE, rwMODULE, rwMONTH, rwNAMES,
  rwNATIONAL, rwNATURAL, rwNCHAR, rwNEXT, rwNO, rwNOT, rwNULL, rwNULLIF, rwNUMERIC, rwOCTET_LENGTH,
  rwOF, rwON, rwONLY, rwOPEN, rwOPTION, rwOR, rwORDER, rwOUTER, rwOUTPUT, rwOVERLAPS, rwPAD,
  rwPARTIAL, rwPOSITION, rwPRECISION, rwPREPARE, rwPRESERVE, rwPRIMARY, rwPRIOR, rwPRIVILEGES,
  rwPROCEDURE, rwPUBLIC, rwREAD, rwREAL, rwREFERENCES, rwRELATIVE, rwRESTRICT, rwREVOKE, rwRIGHT,
  rwROLLBACK, rwROWS, rwSCHEMA, rwSCROLL, rwSECOND, rwSECTION, rwSELECT, rwSESSION, rwSESSION_USER,
  rwSET, rwSIZE, rwSMALLINT, rwSOME, rwSPACE, rwSQL, rwSQLCODE, rwSQLERROR, rwSQLSTATE,
  rwSUBSTRING, rwSUM, rwSYSTEM_USER, rwTABLE, rwTEMPORARY, rwTHEN, rwTIME, rwTIMESTAMP,
  rwTIMEZONE_HOUR, rwTIMEZONE_MINUTE, rwTO, rwTOP, rwTRAILING, rwTRANSACTION, rwTRANSLATE,
  rwTRANSLATION, rwTRIM, rwTRUE, rwUNION, rwUNIQUE, rwUNKNOWN, rwUPDATE, rwUPPER, rwUSAGE, rwUSER,
  rwUSING, rwVALUE, rwVALUES, rwVARCHAR, rwVARYING, rwVIEW, rwWHEN, rwWHENEVER, rwWHERE, rwWITH,
  rwWORK, rwWRITE, rwYEAR, rwZONE, rwPASSWORD, rwBLOBBLOCKSIZE, rwBLOBCOMPRESSIONMODE,
  rwBLOBCOMPRESSIONALGORITHM, rwLAST_AUTOINC, rwMODIFY, rwNEW, rwINDEX, rwNOCASE, rwLTRIM, rwRTRIM,
  rwPOS, rwLENGTH, rwSYSDATE, rwNOW, rwTODATE, rwTOSTRING, rwAUTOINDEXES, rwNOAUTOINDEXES,
  rwINCREMENT, rwLASTVALUE, rwMAXVALUE, rwMINVALUE, rwCYCLED, rwNOMAXVALUE, rwNOMINVALUE,
  rwNOCYCLED, rwINITIALVALUE, rwSTARTVALUE, rwRENAME, rwSTART, rwFLUSH, rwAUTOINC, rwMIMETOBIN,
  rwROWNUM, rwIF, rwTRUNCATE, rwABS, rwACOS, rwASIN, rwATAN, rwCEIL, rwCOS, rwEXP, rwFLOOR, rwLOG,
  rwPOWER, rwRAND, rwROUND, rwSIGN, rwSIN, rwSQR, rwSQRT, rwHALFEVEN, rwHALFPOS, rwHALFNEG,
  rwHALFDOWN, rwHALFUP, rwRNDNEG, rwRNDPOS, rwRNDDOWN, rwRNDUP,
  rwNone
};

inline constexpr int ORVMaxSQLReservedWords = 291;
extern const std::array<std::string_view, ORVMaxSQLReservedWords + 1> ORVSQLReservedWords;

// The reserved word of an upper-case token text, rwNone when it is none.
TReservedWord FindReservedWord(std::string_view UpperText);

// ---- Page types -------------------------------------------------------------------------
inline constexpr uint8_t ptUnknown = 0;
inline constexpr uint8_t ptEmpty = 1;
inline constexpr uint8_t ptEAM = 2;
inline constexpr uint8_t ptPFS = 3;
inline constexpr uint8_t ptFileSystemDirectory = 4;
inline constexpr uint8_t ptActiveSessionList = 5;
inline constexpr uint8_t ptTableList = 6;
inline constexpr uint8_t ptTableLocksFile = 7;
inline constexpr uint8_t ptTableMetaDataFile = 8;
inline constexpr uint8_t ptTableMostUpdatedFile = 9;
inline constexpr uint8_t ptTableRecord = 10;
inline constexpr uint8_t ptTableBlob = 11;
inline constexpr uint8_t ptTableIndex = 12;
inline constexpr uint8_t ptLastType = 12;
inline constexpr uint8_t ptAnyPage = 255;  // matches any type

extern const std::array<std::string_view, ptLastType + 1> ORVPageTypeNames;

// The name of a page type for messages; values outside the table read as the unknown page.
std::string_view PageTypeName(int PageType);

// ---- Markers and limits -----------------------------------------------------------------
inline constexpr int32_t DATE_IS_NULL = INT32_MIN;
inline constexpr int32_t TIME_IS_NULL = 0;
inline constexpr int32_t MILSECS_IN_DAY = 86400000;
inline constexpr int32_t BTreeNullFlagSize = 1;
inline constexpr uint8_t BTreeKeyIsNull = 1;
inline constexpr uint8_t BTreeKeyIsNotNull = 0;
inline constexpr int32_t MAX_NAME_LENGTH = 255;
inline constexpr int32_t INVALID_ID4 = -1;
inline constexpr int64_t INVALID_ID8 = -1;
inline constexpr int32_t OBJECTID_IS_NULL = -1;
inline constexpr int32_t INVALID_PAGE_NO = -1;
inline constexpr int32_t INVALID_OBJECT_ID = -1;
inline constexpr uint16_t INVALID_PAGE_RECORD_NO = 65535;
inline constexpr uint16_t INVALID_PAGE_ITEM_NO = 65535;
inline constexpr int32_t INVALID_SESSION_ID = -1;
inline constexpr int32_t SYSTEM_SESSION_ID = -2;
inline constexpr int32_t MIN_SESSION_ID = -2;
inline constexpr int32_t DELETED_PAGE_STATE = 2147483647;
inline constexpr int32_t INVALID_PAGE_STATE = 2147483646;
inline constexpr int32_t LAST_VALID_PAGE_STATE = 2147483645;
inline constexpr int32_t DEFAULT_MAX_INDEXED_SIZE = 20;
inline constexpr int32_t DEFAULT_BLOB_TO_STRING_FIELD_SIZE = 4096;
inline constexpr int32_t DEFAULT_TABLE_MEMORY_BLOB_FILE_SIZE = 4096;
inline constexpr int32_t ORVFirstPageNoSystemDirectory = 2;
inline constexpr uint8_t ORV_PAGE_IS_FREE = 0;
inline constexpr uint8_t ORV_PAGE_IS_FULL = 1;
inline constexpr uint8_t ORV_EXTENT_IS_FREE = 0;
inline constexpr uint8_t ORV_EXTENT_IS_PARTIAL_USED = 1;
inline constexpr uint8_t ORV_EXTENT_IS_FULL = 3;
inline constexpr int32_t ORV_CONTROL_BLOCK_SIZE = 256;
inline constexpr char AutoNameSymbol = '$';
inline constexpr int32_t ORVMaxLockTypes = 6;

// ---- Defaults of a new database ---------------------------------------------------------
inline constexpr int32_t DefaultPageSize = 4096;
inline constexpr int32_t DefaultExtentPageCount = 8;
inline constexpr int32_t DefaultMaxSessionCount = 500;
inline constexpr uint8_t DefaultCryptoAgorithm = 0;  // craRijndael_128
inline constexpr int32_t DefaultRetryCount = 20;
inline constexpr int32_t DefaultDelayMS = 50;

// Lock-byte offsets and the markers of a commit in progress.
inline constexpr int32_t OffsetToFreeSpaceManagerLockByte = 2;
inline constexpr int32_t OffsetToTablesLockByte = 3;
inline constexpr int32_t OffsetToDBHeaderLockByte = 4;
inline constexpr int32_t WriteChangesStarted = 1;
inline constexpr int32_t WriteChangesFinished = 2;

// ---- Retry settings of the locking code (tries, then the pause in ms) -------------------
inline constexpr int32_t LockTablesRetries = 200, LockTablesDelay = 20;
inline constexpr int32_t DBHeaderLockRetries = 4500, DBHeaderLockDelay = 20;
inline constexpr int32_t LockLastObjectIDRetries = 4500, LockLastObjectIDDelay = 20;
inline constexpr int32_t ConnectSessionLockRetries = 4500, ConnectSessionLockDelay = 20;
inline constexpr int32_t DisconnectSessionLockRetries = 4500, DisconnectSessionLockDelay = 20;
inline constexpr int32_t OpenTableLockRetries = 50, OpenTableLockDelay = 100;
inline constexpr int32_t RecordLockRetries = 15, RecordLockDelay = 100;
inline constexpr int32_t EditRecordTableLockRetries = 900, EditRecordTableLockDelay = 100;
inline constexpr int32_t DeleteRecordTableLockRetries = 900, DeleteRecordTableLockDelay = 100;
inline constexpr int32_t PostRecordTableLockRetries = 2250, PostRecordTableLockDelay = 40;
inline constexpr int32_t GetRecordTableLockRetries = 2250, GetRecordTableLockDelay = 40;
inline constexpr int32_t CreateBlobStreamTableLockRetries = 2250, CreateBlobStreamTableLockDelay = 40;
inline constexpr int32_t SearchTableLockRetries = 2250, SearchTableLockDelay = 40;
inline constexpr int32_t BatchUpdateTableLockRetries = 1125, BatchUpdateTableLockDelay = 80;
inline constexpr int32_t BatchUpdateTableIfFailedRetries = 15, BatchUpdateTableIfFailedDelay = 100;
inline constexpr int32_t SelectTrialTableLockRetries = 2, SelectTrialTableLockDelay = 20;
inline constexpr int32_t SelectTablesLockRetries = 900, SelectTablesLockDelay = 100;
inline constexpr int32_t CommitTablesLockRetries = 900, CommitTablesLockDelay = 100;
inline constexpr int32_t RangeTablesLockRetries = 900, RangeTablesLockDelay = 100;
inline constexpr int32_t TableUnlockRetries = 4500, TableUnlockDelay = 20;
inline constexpr int32_t RecordUnlockRetries = 4500, RecordUnlockDelay = 20;
inline constexpr int32_t ReopenDatabaseFileRetries = 3, ReopenDatabaseFileDelay = 1000;

// ---- Result codes of record operations --------------------------------------------------
inline constexpr int32_t ORV_ERR_OK = 0;
inline constexpr int32_t ORV_ERR_INSERT_RECORD = -1;
inline constexpr int32_t ORV_ERR_UPDATE_RECORD = -2;
inline constexpr int32_t ORV_ERR_DELETE_RECORD = -3;
inline constexpr int32_t ORV_ERR_UPDATE_RECORD_MODIFIED = -4;
inline constexpr int32_t ORV_ERR_DELETE_RECORD_MODIFIED = -5;
inline constexpr int32_t ORV_ERR_UPDATE_RECORD_DELETED = -6;
inline constexpr int32_t ORV_ERR_DELETE_RECORD_DELETED = -7;
inline constexpr int32_t ORV_ERR_CONSTRAINT_VIOLATED = -8;
inline constexpr int32_t ORV_ERR_UPDATE_RECORD_PROHIBITED = -9;
inline constexpr int32_t ORV_ERR_DELETE_RECORD_PROHIBITED = -10;
inline constexpr int32_t ORV_ERR_CANCEL_PROHIBITED = -11;
inline constexpr int32_t ORV_ERR_RECORD_LOCKED = -12;
inline constexpr int32_t ORV_ERR_TABLE_LOCKED = -13;

// ---- Native error code bands ------------------------------------------------------------
// The next free code of the 10000 band and the last codes used of the 20000 and 30000 bands;
// a new raise site takes the next free code of its band.
inline constexpr int32_t NextErrorLCode = 10518;
inline constexpr int32_t LastErrorACode = 20307;
inline constexpr int32_t LastErrorGCode = 30515;

}  // namespace orv
