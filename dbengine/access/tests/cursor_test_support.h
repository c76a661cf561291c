#pragma once
// What the local cursor's tests share: the tables they work on (ID INTEGER, NAME VARCHAR(20),
// PIC BLOB, optionally a primary key on ID) and a client that drives a cursor the way the
// dataset does: its own record buffers (the active one and the edit copy), bookmarks written
// after every read, field values by name.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/access/orv_local_engine_cursor.h"
#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/orv_types.h"

namespace orv::testing {

inline TORVFieldDef* AddColumn(TORVFieldDefs& Defs, const std::string& Name, TORVAdvancedFieldType Type,
                               int32_t Size = 0) {
  TORVFieldDef* f = Defs.AddCreated();
  f->Name = Name;
  f->SetFieldDefDataType(Type, Size);
  return f;
}

// ID, NAME, PIC; with Key a primary key "PK" on ID and its constraint.
struct RowTable {
  explicit RowTable(bool Key = false) {
    AddColumn(fields, "ID", aftInteger);
    AddColumn(fields, "NAME", aftString, 20);
    AddColumn(fields, "PIC", aftBlob);
    if (!Key) return;
    TORVIndexDef* pk = indexes.AddCreated();
    pk->Name = "PK";
    pk->Primary = pk->Unique = true;
    pk->AssignByNames({"ID"}, {"ASC"}, {"CASE"});
    TORVConstraintDefPrimary* c = constraints.AddPK();
    c->Name = "C_PK$ID";
    c->IndexName = "PK";
    c->Columns.push_back({"ID", -1});
  }
  // Creates the table through a cursor of Session (replacing one of that name).
  void Create(TORVBaseSession& Session, const std::string& Table) const {
    TORVLocalCursor creator;
    creator.FSession = &Session;
    creator.FTableName = Table;
    creator.CreateTable(fields, indexes, constraints);
  }

  TORVFieldDefs fields;
  TORVIndexDefs indexes;
  TORVConstraintDefs constraints;
};

class CursorClient {
 public:
  CursorClient(TORVBaseSession& Session, const std::string& Table) {
    cursor.FSession = &Session;
    cursor.FTableName = Table;
  }
  ~CursorClient() { Close(); }
  CursorClient(const CursorClient&) = delete;
  CursorClient& operator=(const CursorClient&) = delete;

  // Opens the table and makes the buffers, as the dataset does when it opens.
  CursorClient& Open() {
    cursor.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
    cursor.InternalInitFieldDefs();
    active = cursor.AllocateRecordBuffer();
    edit = cursor.AllocateRecordBuffer();
    cursor.FCurrentRecordBuffer = active;
    return *this;
  }
  void Close() {
    if (active) cursor.FreeRecordBuffer(active);
    if (edit) cursor.FreeRecordBuffer(edit);
    cursor.FCurrentRecordBuffer = cursor.FEditRecordBuffer = nullptr;
    cursor.CloseTable();
  }

  // ---- Navigation ----
  TORVGetRecordResult Read(TORVGetRecordMode Mode) {
    cursor.FCurrentRecordBuffer = active;
    const TORVGetRecordResult r = cursor.GetRecordBuffer(Mode);
    if (r == grrOK) Bookmark(active, cursor.CurrentRecordID, abfCurrent);
    return r;
  }
  // Stands on the first record whose ID is Id; False when there is none.
  bool Go(int64_t Id) {
    cursor.InternalFirst();
    while (Read(grmNext) == grrOK)
      if (Int("ID") == Id) return true;
    return false;
  }
  std::vector<int64_t> Ids() {
    std::vector<int64_t> ids;
    cursor.InternalFirst();
    while (Read(grmNext) == grrOK) ids.push_back(Int("ID").value_or(-1));
    return ids;
  }
  void Bookmark(void* Buffer, const TORVPageItemID& Id, TORVBookmarkFlag Flag) {
    auto* p = static_cast<uint8_t*>(Buffer) + cursor.FBookmarkOffset;
    Id.WriteTo(p);
    p[TORVPageItemID::StoredSize] = Flag;
  }

  // ---- Field values of the active buffer ----
  int32_t No(const std::string& Field) const { return cursor.FVisibleFieldDefs->GetDefNumberByName(Field); }
  void Set(const std::string& Field, std::optional<int64_t> Value) {
    TORVVariant v;
    if (Value) v.SetDataAsSignedInt64(*Value);
    cursor.SetFieldValue(v, No(Field), false, active);
  }
  void SetText(const std::string& Field, const std::string& Value) {
    TORVVariant v(bftVarchar);
    v.SetData(Value.c_str(), static_cast<int32_t>(Value.size()) + 1, bftVarchar, true);
    cursor.SetFieldValue(v, No(Field), false, active);
  }
  std::optional<int64_t> Int(const std::string& Field) {
    cursor.FCurrentRecordBuffer = active;
    TORVVariant v;
    cursor.GetFieldValue(v, No(Field), false);
    if (v.GetIsNull()) return std::nullopt;
    return v.GetDataAsSignedInt64();
  }
  std::string Text(const std::string& Field) {
    cursor.FCurrentRecordBuffer = active;
    TORVVariant v;
    cursor.GetFieldValue(v, No(Field), false);
    return v.GetIsNull() ? std::string("<null>") : v.GetDataAsAnsiString();
  }

  // ---- Record operations, each returning the cursor's result code ----
  int32_t Insert(int64_t Id, const std::string& Name = "row") {
    cursor.FCurrentRecordBuffer = active;
    cursor.InternalInitRecord(active, true);
    Set("ID", Id);
    SetText("NAME", Name);
    cursor.InternalPost(true);
    return cursor.FErrorCode;
  }
  int32_t Edit() {
    std::memcpy(edit, active, static_cast<size_t>(cursor.FRecordSize));
    cursor.FCurrentRecordBuffer = active;
    cursor.InternalEdit();
    return cursor.FErrorCode;
  }
  int32_t Post() {
    cursor.FCurrentRecordBuffer = active;
    cursor.FEditRecordBuffer = edit;
    cursor.InternalPost(false);
    return cursor.FErrorCode;
  }
  int32_t Cancel(bool ToInsert = false) {
    cursor.FCurrentRecordBuffer = active;
    cursor.InternalCancel(ToInsert);
    return cursor.FErrorCode;
  }
  int32_t Delete() {
    cursor.FCurrentRecordBuffer = active;
    cursor.InternalDelete();
    return cursor.FErrorCode;
  }

  // ---- BLOB fields of the active buffer ----
  TORVLocalBLOBStream* OpenBlob(const std::string& Field, TORVBLOBOpenMode Mode, bool Browsing = false) {
    cursor.FCurrentRecordBuffer = active;
    return dynamic_cast<TORVLocalBLOBStream*>(
        cursor.InternalCreateBlobStream(false, !Browsing, No(Field), Mode, Browsing));
  }
  void WriteBlob(const std::string& Field, const std::string& Bytes) {
    TORVLocalBLOBStream* s = OpenBlob(Field, bomWrite);
    ASSERT_NE(s, nullptr);
    s->WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    s->SetModified(true);
    cursor.InternalCloseBLOB(No(Field));
  }
  std::string ReadBlob(const std::string& Field, bool Browsing = true) {
    TORVLocalBLOBStream* s = OpenBlob(Field, bomRead, Browsing);
    if (!s) return "<no stream>";
    std::string bytes(static_cast<size_t>(s->GetSize()), '\0');
    s->Seek(0, soBeginning);
    if (!bytes.empty()) s->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    cursor.InternalCloseBLOB(No(Field));
    return bytes;
  }

  TORVLocalCursor cursor;
  void* active = nullptr;
  void* edit = nullptr;
};

// Row Id edited to take the ID of row Taken and posted: the primary key's constraint refuses it
// (-8, its name in the message) and the buffer keeps the new ID.
inline void ExpectPrimaryKeyRefusal(CursorClient& Client, int64_t Id, int64_t Taken) {
  ASSERT_TRUE(Client.Go(Id));
  ASSERT_EQ(Client.Edit(), 0);
  Client.Set("ID", Taken);
  EXPECT_EQ(Client.Post(), -8);
  EXPECT_NE(Client.cursor.FErrorMessage.find("C_PK$ID"), std::string::npos) << Client.cursor.FErrorMessage;
  EXPECT_EQ(Client.Int("ID"), Taken);
}

}  // namespace orv::testing
