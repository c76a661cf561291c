#pragma once
// Table metadata: the ordered field, index and constraint definitions of a table, the record
// buffer layout they fix, and their stream form (which every stored table keeps, so its bytes
// must stay exactly as they are).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_types.h"
#include "dbengine/storage/orv_variant.h"
#include "platform/base/stream.h"

namespace orv {

// ---- Default-value expressions ------------------------------------------------------------

// A parsed default value such as the current date. The expression layer sits above the
// storage core, so it registers a factory here; without one every default is a constant.
class IORVDefaultValueExpression {
 public:
  virtual ~IORVDefaultValueExpression() = default;
  // Evaluates the expression (it has no field references) and returns the value of its root,
  // owned by the expression; nil for an expression without nodes. With False a NULL result
  // becomes the Boolean False.
  virtual const TORVVariant* GetValue(bool TrueFalseNullLogic) = 0;
};

class IORVDefaultValueExpressionFactory {
 public:
  virtual ~IORVDefaultValueExpressionFactory() = default;
  // True only for a non-NULL text that parses as a value expression without field
  // references and evaluates to a text different from itself; parse errors propagate.
  virtual bool IsNonConstantExpression(const TORVVariant& Value) = 0;
  virtual std::unique_ptr<IORVDefaultValueExpression> ParseForDefaultValueExpression(const std::string& DefaultValue) = 0;
};

// Borrowed; nil unregisters. Returns the previous factory.
IORVDefaultValueExpressionFactory* SetDefaultValueExpressionFactory(IORVDefaultValueExpressionFactory* Factory);
IORVDefaultValueExpressionFactory* GetDefaultValueExpressionFactory();

// ---- Definitions --------------------------------------------------------------------------

class TORVMetaObjectDef {
 public:
  TORVMetaObjectDef() = default;
  virtual ~TORVMetaObjectDef() = default;
  TORVMetaObjectDef(const TORVMetaObjectDef&) = delete;
  TORVMetaObjectDef& operator=(const TORVMetaObjectDef&) = delete;

  virtual void Assign(const TORVMetaObjectDef& Source);
  virtual void LoadFromStream(platform::TStream& Stream);
  virtual void SaveToStream(platform::TStream& Stream) const;

  std::string Name;  // 8-bit, at most 255 characters are stored
  int32_t ObjectID = -1;
  std::string SchemaName;  // not stored
  int32_t SchemaID = -1;   // not stored
};

class TORVFieldDef : public TORVMetaObjectDef {
 public:
  TORVFieldDef();
  ~TORVFieldDef() override;

  void Assign(const TORVMetaObjectDef& Source) override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;

  // No storage type for the column type: 30007.
  void SetFieldDefDataType(TORVAdvancedFieldType aAdvancedFieldType, int32_t aFieldSize);
  // No column type for the storage type: 30008.
  void SetFieldDefDataType(TORVBaseFieldType aBaseFieldType, int32_t aFieldSize);
  // A type without a buffer form: 30050; a size whose buffer would not fit 31 bits: 30051.
  void RecalcInternalSizes();
  void CreateDefaultValueExprIfNeeded();

  TORVBaseFieldType BaseFieldType = bftUnknown;
  TORVAdvancedFieldType AdvancedFieldType = aftUnknown;
  int32_t FieldSize = 0;
  int32_t DiskDataSize = 0;
  int32_t MemoryDataSize = 0;
  int32_t DiskOffset = 0;
  int32_t MemoryOffset = 0;
  int32_t FieldNoReference = 0;
  std::unique_ptr<TORVVariant> DefaultValue;
  std::unique_ptr<IORVDefaultValueExpression> DefaultValueExpr;
  uint8_t BLOBCompressionAlgorithm = 0;
  uint8_t BLOBCompressionMode = 0;
  int32_t BLOBBlockSize;
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = INT64_MAX;
  bool AutoincCycled = false;
};

class TORVIndexColumn {
 public:
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;
  int32_t MaxIndexedSize = 0;
};

enum TORVIndexType : uint8_t { itBTree, itAnotherOne };

class TORVIndexDef : public TORVMetaObjectDef {
 public:
  void Assign(const TORVMetaObjectDef& Source) override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;

  TORVIndexColumn& GetIndexColumn(int32_t Index);
  const TORVIndexColumn& GetIndexColumn(int32_t Index) const;
  TORVIndexColumn& Columns(int32_t Index) { return GetIndexColumn(Index); }
  const TORVIndexColumn& Columns(int32_t Index) const { return GetIndexColumn(Index); }
  int32_t ColumnCount() const { return static_cast<int32_t>(FColumns.size()); }
  void SetColumnCount(int32_t Value);
  // Lists of different lengths: 10278 (sort orders), 10279 (case sensitivities).
  void AssignByNames(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDescList,
                     const std::vector<std::string>& CaseSensitivityList);

  TORVIndexType IndexType = itBTree;
  bool Unique = false;
  bool Primary = false;
  int32_t RootPageNo = -1;
  bool Temporary = false;
  int32_t SessionID = -1;
  int32_t TableState = 0;
  bool NeedRebuild = false;

 private:
  std::vector<std::unique_ptr<TORVIndexColumn>> FColumns;
};

class TORVConstraintDef : public TORVMetaObjectDef {
 public:
  explicit TORVConstraintDef(TORVConstraintType aConstraintType) : ConstraintType(aConstraintType) {}
  void Assign(const TORVMetaObjectDef& Source) override;

  TORVConstraintType ConstraintType;
};

class TORVConstraintDefNotNull : public TORVConstraintDef {
 public:
  TORVConstraintDefNotNull() : TORVConstraintDef(ctNotNull) {}
  void Assign(const TORVMetaObjectDef& Source) override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;
  void SetNames(std::string_view aColumnName, std::string_view aTableName, std::string_view aSchemaName);

  std::string TableSchemaName;
  std::string TableName;
  std::string ColumnName;
  int32_t TableSchemaObjectID = -1;
  int32_t TableObjectID = -1;
  int32_t ColumnObjectID = -1;

 protected:
  explicit TORVConstraintDefNotNull(TORVConstraintType aType) : TORVConstraintDef(aType) {}
  struct Codes {
    int32_t WriteIDs[3], ReadIDs[3], WriteNames[6], ReadNames[6];
  };
  void SaveBody(platform::TStream& Stream, const Codes& c) const;
  void LoadBody(platform::TStream& Stream, const Codes& c);
};

class TORVConstraintDefCheck : public TORVConstraintDefNotNull {
 public:
  TORVConstraintDefCheck();
  void Assign(const TORVMetaObjectDef& Source) override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;

  std::unique_ptr<TORVVariant> MinValue;
  std::unique_ptr<TORVVariant> MaxValue;
};

struct TORVConstraintColumn {
  std::string ColumnName;
  int32_t ColumnObjectID = -1;
};

class TORVConstraintDefUnique : public TORVConstraintDef {
 public:
  TORVConstraintDefUnique() : TORVConstraintDef(ctUnique) {}
  void Assign(const TORVMetaObjectDef& Source) override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;

  std::string TableSchemaName;
  int32_t TableSchemaObjectID = -1;
  std::string TableName;
  int32_t TableObjectID = -1;
  std::string IndexName;
  int32_t IndexObjectID = -1;
  std::vector<TORVConstraintColumn> Columns;

 protected:
  explicit TORVConstraintDefUnique(TORVConstraintType aType) : TORVConstraintDef(aType) {}
};

class TORVConstraintDefPrimary : public TORVConstraintDefUnique {
 public:
  TORVConstraintDefPrimary() : TORVConstraintDefUnique(ctPK) {}
};

// ---- Collections --------------------------------------------------------------------------

class TORVMetaObjectDefs {
 public:
  TORVMetaObjectDefs() = default;
  virtual ~TORVMetaObjectDefs() = default;
  TORVMetaObjectDefs(const TORVMetaObjectDefs&) = delete;
  TORVMetaObjectDefs& operator=(const TORVMetaObjectDefs&) = delete;

  virtual int32_t GetCount() const { return static_cast<int32_t>(FDefsList.size()); }
  virtual void Add(std::unique_ptr<TORVMetaObjectDef> MetaObjectDef);
  // The base collection does not know what to create: 30339.
  virtual TORVMetaObjectDef* InternalAddCreated();
  virtual void LoadFromStream(platform::TStream& Stream);
  virtual void SaveToStream(platform::TStream& Stream) const;
  // A name present twice (without regard to case): 10424.
  virtual void Assign(const TORVMetaObjectDefs& Source);
  virtual void Delete(int32_t Index);
  virtual void Insert(int32_t Index, std::unique_ptr<TORVMetaObjectDef> MetaObjectDef);
  virtual void Move(int32_t CurIndex, int32_t NewIndex);
  virtual void Clear();

  // Positions outside the list raise std::out_of_range.
  TORVMetaObjectDef* GetDef(int32_t Index) const;
  void SetDef(int32_t Index, std::unique_ptr<TORVMetaObjectDef> Value);
  int32_t GetDefNumberByName(std::string_view aName) const;
  TORVMetaObjectDef* GetDefByName(std::string_view aName) const;
  int32_t GetDefNumberByObjectId(int32_t aObjectID) const;
  TORVMetaObjectDef* GetDefByObjectId(int32_t aObjectID) const;

  int32_t FLoadedItemCount = 0;

 protected:
  virtual const char* ClassName() const { return "TORVMetaObjectDefs"; }
  // The count in front of the defs; a negative count is a damaged stream (ReadCode).
  int32_t LoadCount(platform::TStream& Stream, int32_t ReadCode);
  static void SaveCount(platform::TStream& Stream, int32_t Count, int32_t WriteCode);
  void CheckIndex(int32_t Index, int32_t Limit) const;

  std::vector<std::unique_ptr<TORVMetaObjectDef>> FDefsList;
};

class TORVFieldDefs : public TORVMetaObjectDefs {
 public:
  TORVMetaObjectDef* InternalAddCreated() override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;
  virtual void RecalcFieldOffsets();

  TORVFieldDef* GetDef(int32_t Index) const { return static_cast<TORVFieldDef*>(TORVMetaObjectDefs::GetDef(Index)); }
  TORVFieldDef* operator[](int32_t Index) const { return GetDef(Index); }
  TORVFieldDef* AddCreated() { return static_cast<TORVFieldDef*>(InternalAddCreated()); }
  TORVFieldDef* GetFieldDefByName(std::string_view aName) const {
    return static_cast<TORVFieldDef*>(GetDefByName(aName));
  }
  int32_t GetMemoryRecordBufferSize() const;
  int32_t GetDiskRecordBufferSize() const;

 protected:
  const char* ClassName() const override { return "TORVFieldDefs"; }
};

class TORVIndexDefs : public TORVMetaObjectDefs, public IORVScanIndexDefs {
 public:
  TORVMetaObjectDef* InternalAddCreated() override;
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;
  virtual TORVIndexDef* GetIndexDef(int32_t Index) const;
  virtual void SetIndexDef(int32_t Index, std::unique_ptr<TORVIndexDef> Value);

  TORVIndexDef* operator[](int32_t Index) const { return GetIndexDef(Index); }
  TORVIndexDef* AddCreated() { return static_cast<TORVIndexDef*>(InternalAddCreated()); }
  TORVIndexDef* GetIndexDefByName(std::string_view aName) const {
    return static_cast<TORVIndexDef*>(GetDefByName(aName));
  }
  // The object id of the first index whose leading columns serve the column list, -1 when
  // none. A nil list: 10389, 10390, 10391; lists of different lengths: 10276, 10277.
  int32_t FindIndex(const std::vector<std::string>* FieldNames, const std::vector<std::string>* AscDescList,
                    const std::vector<std::string>* CaseSensitivityList, int32_t SessionID,
                    const TORVFieldDefs* FieldDefs) const;
  bool IsIndexExists(const std::vector<std::string>* FieldNames, const std::vector<std::string>* AscDescList,
                     const std::vector<std::string>* CaseSensitivityList, int32_t SessionID,
                     const TORVFieldDefs* FieldDefs) const {
    return FindIndex(FieldNames, AscDescList, CaseSensitivityList, SessionID, FieldDefs) != -1;
  }

  const TORVIndexDef* FindIndexDefByObjectID(int32_t aObjectID) const override {
    return static_cast<const TORVIndexDef*>(GetDefByObjectId(aObjectID));
  }
  int32_t GetIndexColumnCount(const TORVIndexDef* IndexDef) const override {
    return IndexDef ? IndexDef->ColumnCount() : 0;
  }

 protected:
  const char* ClassName() const override { return "TORVIndexDefs"; }
};

class TORVConstraintDefs : public TORVMetaObjectDefs {
 public:
  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) const override;
  // A foreign key: 30035.
  void Assign(const TORVMetaObjectDefs& Source) override;

  TORVConstraintDef* GetDef(int32_t Index) const {
    return static_cast<TORVConstraintDef*>(TORVMetaObjectDefs::GetDef(Index));
  }
  TORVConstraintDefNotNull* AddNotNull();
  TORVConstraintDefCheck* AddCheck();
  TORVConstraintDefPrimary* AddPK();
  TORVConstraintDefUnique* AddUnique();

 protected:
  const char* ClassName() const override { return "TORVConstraintDefs"; }

 private:
  // Nil for a type that cannot be created.
  static std::unique_ptr<TORVConstraintDef> CreateByType(TORVConstraintType aType);
};

}  // namespace orv
