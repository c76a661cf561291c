#pragma once
// The statements that change the structure of tables and the state of a transaction:
// CREATE / DROP / TRUNCATE / ALTER / RENAME TABLE, CREATE / DROP INDEX, START TRANSACTION,
// COMMIT and ROLLBACK. The table statements read their column and index definitions into an
// intermediate form (TSQLFieldDef, TORVIndex) and hand them to the table component, which does
// the work (create, delete, empty, rename, restructure). None of them returns or counts rows.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_adv_defs.h"
#include "dbengine/sql/orv_sql_processor.h"

namespace orv {

class TORVDatabase;
class TORVTable;

// One column definition; a property the statement did not give stays empty.
class TSQLFieldDef {
 public:
  std::string FieldName;
  bool CreateIfNotExists = false;
  std::optional<TORVAdvancedFieldType> FieldType;
  std::optional<int32_t> Length;
  std::optional<bool> Required;
  std::optional<int64_t> AutoincIncrement, AutoincLastValue, AutoincMinValue, AutoincMaxValue;
  std::optional<bool> AutoincCycled;
  std::optional<int32_t> BlobBlockSize;
  std::optional<TCompressionAlgorithm> BlobCompressionAlgorithm;
  std::optional<uint8_t> BlobCompressionMode;
  // Null pointer: not given; a NULL value: given as none (NOMINVALUE).
  std::unique_ptr<TORVVariant> DefaultValue, MinValue, MaxValue;
  bool DefaultFromExpression = false;
};

struct TORVIndexField {
  std::string FieldName;
  bool desc = false;
  bool nocase = false;
};

struct TORVSQLIndex {
  std::string IndexName;
  bool Unique = false;
  bool Primary = false;
  std::vector<TORVIndexField> IndexFields;
};

class TORVDDLTableManipulation : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  // The trailing-token check of CREATE, DROP and TRUNCATE: 30246.
  void Parse() override;

  void ParseTableName();
  void ParseTableElementList();
  void FillColumnType(TSQLFieldDef& FieldDef);
  void ParseColumnOption(TSQLFieldDef& FieldDef);
  void ParseDefaultValue(TSQLFieldDef& FieldDef);
  bool ParsePrimaryKey();
  bool ParseIndex();
  // [name] ( fields ): the index joins Indexes.
  void ParseNamedIndex(TORVSQLIndex& Index);
  void ParseIndexFields(TORVSQLIndex& Index);
  int64_t ParseInteger();
  // True when the current token is the word (a reserved word or a plain name, any case).
  bool IsText(const char* Word) const;

  // The table component for the statement's table (and the database component for another
  // file, handed to Db); with FillAdvFieldDefs its advanced definitions are the parsed ones.
  std::unique_ptr<TORVTable> CreateInternalORVTable(IORVSQLQuery* Query, std::unique_ptr<TORVDatabase>& Db,
                                                    bool FillAdvFieldDefs);
  static void FillAdvFieldDef(TORVAdvFieldDef& AdvFieldDef, const TSQLFieldDef& SQLFieldDef);
  void AddIndexes(TORVTable& Table);

  std::string Password, DatabaseName, TableName, TableAlias;
  std::vector<std::unique_ptr<TSQLFieldDef>> SQLFieldDefs;
  std::vector<TORVSQLIndex> Indexes;
};

class TORVDDLCreateTable : public TORVDDLTableManipulation {
 public:
  using TORVDDLTableManipulation::TORVDDLTableManipulation;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
  bool FCreateIfNotExists = false;
};

class TORVDDLDropTable : public TORVDDLTableManipulation {
 public:
  using TORVDDLTableManipulation::TORVDDLTableManipulation;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
};

class TORVDDLTruncateTable : public TORVDDLTableManipulation {
 public:
  using TORVDDLTableManipulation::TORVDDLTableManipulation;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
};

enum TAlterType : uint8_t { atAdd, atDrop, atModify, atRenameColumn, atRenameTable };

class TORVDDLAlterTable : public TORVDDLTableManipulation {
 public:
  using TORVDDLTableManipulation::TORVDDLTableManipulation;
  void Parse() override;
  void ParseAlterTypeToken();
  void ParseRenameColumnsList();
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;

  TAlterType AlterType = atAdd;
  std::vector<std::string> DropColumnNamesList, RenameColumnOldNamesList, RenameColumnNewNamesList;
  std::string NewTableName;

 private:
  void AddColumn(TORVTable& T);
  void DropColumn(TORVTable& T);
  void Modify(TORVTable& T);
  void RenameColumn(TORVTable& T);
};

class TORVDDLRenameTable : public TORVDDLAlterTable {
 public:
  using TORVDDLAlterTable::TORVDDLAlterTable;
  void Parse() override;
};

class TORVDDLCreateIndex : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;

  bool Unique = false;
  std::string IndexName, DatabaseFileName, TableName, TableAlias, Password;
  bool InMemory = false;
  std::vector<TORVIndexField> ORVIndexFields;
};

class TORVDDLDropIndex : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;

  std::string IndexName, DatabaseFileName, TableName, TableAlias, Password;
  bool InMemory = false;
};

class TORVSQLStartTransaction : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
};

class TORVSQLCommit : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
  bool FFlush = false;
};

class TORVSQLRollback : public TORVSQLCommand {
 public:
  using TORVSQLCommand::TORVSQLCommand;
  void Parse() override;
  void ExecSQL(IORVSQLQuery* Query, bool IsRoot, bool RequestLive, bool& ReadOnly, IORVAO* ParentQueryAO,
               TORVCursor* ParentCursor) override;
};

// The table component of a statement's table: in the query's database, in MEMORY, or (Db
// set) in the database component made for another file.
std::unique_ptr<TORVTable> MakeStatementTable(IORVSQLQuery* Query, const std::string& DatabaseFileName,
                                              const std::string& Password, bool InMemory,
                                              const std::string& TableName, std::unique_ptr<TORVDatabase>& Db);

}  // namespace orv
