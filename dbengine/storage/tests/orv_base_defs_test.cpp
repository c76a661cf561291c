#include "dbengine/storage/orv_base_defs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;

Bytes Saved(const TORVMetaObjectDefs& defs) {
  platform::TMemoryStream s;
  defs.SaveToStream(s);
  s.SetPosition(0);
  return s.ReadToEnd();
}

std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string r;
  for (uint8_t c : b) {
    r += digits[c >> 4];
    r += digits[c & 15];
  }
  return r;
}

Bytes FromHex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}

// The three stored forms, packed independently by Python's struct.
const std::vector<std::string>& Golden() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> out;
    const std::string command = "python3 " + std::string(QUIRVEL_TEST_DATA) + "/make_defs_streams.py";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    std::string line;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p)) {
      line += buf;
      if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        out.push_back(line);
        line.clear();
      }
    }
    ::pclose(p);
    return out;
  }();
  return lines;
}

void MakeFields(TORVFieldDefs& f) {
  auto* id = f.AddCreated();
  id->Name = "ID";
  id->ObjectID = 5;
  id->SetFieldDefDataType(aftInteger, 0);
  auto* name = f.AddCreated();
  name->Name = "NAME";
  name->ObjectID = 6;
  name->SetFieldDefDataType(aftString, 30);
  name->DefaultValue->SetDataAsAnsiString("abc");
  auto* pic = f.AddCreated();
  pic->Name = "PIC";
  pic->ObjectID = 7;
  pic->SetFieldDefDataType(aftBlob, 0);
  pic->BLOBCompressionAlgorithm = 1;
  pic->BLOBCompressionMode = 5;
  pic->BLOBBlockSize = 65536;
  pic->AutoincIncrement = 2;
  pic->AutoincInitialValue = 10;
  pic->AutoincMinValue = -5;
  pic->AutoincMaxValue = 1000;
  pic->AutoincCycled = true;
  f.RecalcFieldOffsets();
}

void MakeIndexes(TORVIndexDefs& x) {
  auto* pk = x.AddCreated();
  pk->Name = "PK_ID";
  pk->ObjectID = 10;
  pk->Unique = pk->Primary = true;
  pk->RootPageNo = 7;
  pk->AssignByNames({"ID"}, {"ASC"}, {"CASE"});
  auto* tmp = x.AddCreated();
  tmp->Name = "TMP";
  tmp->ObjectID = 12;
  tmp->Temporary = true;
  tmp->SessionID = 3;
  tmp->AssignByNames({"NAME"}, {"ASC"}, {"CASE"});
  auto* ix = x.AddCreated();
  ix->Name = "IX_NAME";
  ix->ObjectID = 11;
  ix->AssignByNames({"NAME", "ID"}, {"DESC", "ASC"}, {"NO_CASE", "CASE"});
  ix->Columns(0).MaxIndexedSize = 40;
}

void MakeConstraints(TORVConstraintDefs& c) {
  auto* pk = c.AddPK();
  pk->Name = "PK1";
  pk->ObjectID = 20;
  pk->TableName = "T";
  pk->TableObjectID = 1;
  pk->IndexName = "PK_ID";
  pk->IndexObjectID = 10;
  pk->Columns.push_back({"ID", 5});
  auto* nn = c.AddNotNull();
  nn->Name = "NN1";
  nn->ObjectID = 21;
  nn->SetNames("NAME", "T", "");
  nn->TableObjectID = 1;
  nn->ColumnObjectID = 6;
  auto* ck = c.AddCheck();
  ck->Name = "CK1";
  ck->ObjectID = 22;
  ck->TableSchemaName = "S";
  ck->SetNames("ID", "T", "");
  ck->TableObjectID = 1;
  ck->ColumnObjectID = 5;
  ck->MinValue->SetDataAsSignedInt32(1);
  ck->MaxValue->Clear(bftSignedInt32);
}

TEST(TORVDefsStream, WritesTheLayoutPackedByPython) {
  const auto& golden = Golden();
  ASSERT_EQ(golden.size(), 3u) << "python3 could not pack the reference streams";
  TORVFieldDefs f;
  MakeFields(f);
  ASSERT_EQ(f[0]->BaseFieldType, bftSignedInt32);
  ASSERT_EQ(f[1]->BaseFieldType, bftVarchar);
  ASSERT_EQ(f[2]->BaseFieldType, bftBlob);
  TORVIndexDefs x;
  MakeIndexes(x);
  TORVConstraintDefs c;
  MakeConstraints(c);
  EXPECT_EQ(Hex(Saved(f)), golden[0]);
  EXPECT_EQ(Hex(Saved(x)), golden[1]);
  EXPECT_EQ(Hex(Saved(c)), golden[2]);
}

TEST(TORVDefsStream, ReadsThePythonBytesBackWhole) {
  const auto& golden = Golden();
  ASSERT_EQ(golden.size(), 3u);
  platform::TMemoryStream fs(FromHex(golden[0]));
  TORVFieldDefs f;
  f.LoadFromStream(fs);
  ASSERT_EQ(f.GetCount(), 3);
  EXPECT_EQ(f.FLoadedItemCount, 3);
  EXPECT_EQ(f[1]->DefaultValue->GetDataAsAnsiString(), "abc");
  EXPECT_EQ(f[1]->MemoryDataSize, 31);
  // A non-BLOB field stores no BLOB settings and keeps its creation values.
  EXPECT_EQ(f[0]->BLOBBlockSize, 102400);
  EXPECT_EQ(f[0]->BLOBCompressionAlgorithm, 0);
  EXPECT_EQ(f[2]->BLOBCompressionAlgorithm, 1);
  EXPECT_EQ(f[2]->BLOBCompressionMode, 5);
  EXPECT_EQ(f[2]->BLOBBlockSize, 65536);
  EXPECT_EQ(f[2]->AutoincMinValue, -5);
  EXPECT_TRUE(f[2]->AutoincCycled);
  EXPECT_EQ(f[2]->MemoryDataSize, 10);
  EXPECT_EQ(f[2]->DiskDataSize, 6);
  EXPECT_EQ(Hex(Saved(f)), golden[0]);

  platform::TMemoryStream xs(FromHex(golden[1]));
  TORVIndexDefs x;
  x.LoadFromStream(xs);
  ASSERT_EQ(x.GetCount(), 2);
  EXPECT_EQ(x[1]->Name, "IX_NAME");
  EXPECT_TRUE(x[1]->Columns(0).Descending);
  EXPECT_TRUE(x[1]->Columns(0).CaseInsensitive);
  EXPECT_EQ(x[1]->Columns(0).MaxIndexedSize, 40);
  EXPECT_EQ(x[0]->RootPageNo, 7);
  EXPECT_FALSE(x[0]->Temporary);
  EXPECT_EQ(x[0]->SessionID, -1);
  EXPECT_EQ(Hex(Saved(x)), golden[1]);

  platform::TMemoryStream cs(FromHex(golden[2]));
  TORVConstraintDefs c;
  c.LoadFromStream(cs);
  ASSERT_EQ(c.GetCount(), 3);
  EXPECT_NE(dynamic_cast<TORVConstraintDefPrimary*>(c.GetDef(0)), nullptr);
  auto* ck = dynamic_cast<TORVConstraintDefCheck*>(c.GetDef(2));
  ASSERT_NE(ck, nullptr);
  EXPECT_EQ(ck->TableSchemaName, "S");
  EXPECT_EQ(ck->MinValue->GetDataAsSignedInt32(), 1);
  EXPECT_TRUE(ck->MaxValue->GetIsNull());
  EXPECT_EQ(ck->MaxValue->DataType(), bftSignedInt32);
  EXPECT_EQ(Hex(Saved(c)), golden[2]);
}

// Every cut of a stored form is refused with an engine error, never read past its end.
TEST(TORVDefsStream, EveryTruncationIsAnEngineError) {
  const auto& golden = Golden();
  ASSERT_EQ(golden.size(), 3u);
  for (size_t which = 0; which < 3; ++which) {
    const Bytes full = FromHex(golden[which]);
    for (size_t len = 0; len < full.size(); ++len) {
      platform::TMemoryStream s(Bytes(full.begin(), full.begin() + static_cast<long>(len)));
      std::unique_ptr<TORVMetaObjectDefs> defs;
      if (which == 0) defs = std::make_unique<TORVFieldDefs>();
      if (which == 1) defs = std::make_unique<TORVIndexDefs>();
      if (which == 2) defs = std::make_unique<TORVConstraintDefs>();
      EXPECT_THROW(defs->LoadFromStream(s), EORVException) << which << " cut at " << len;
    }
  }
}

TEST(TORVDefsStream, DamagedItemsAreRefusedWithTheirReadCode) {
  auto load_constraints = [](Bytes b) {
    platform::TMemoryStream s(std::move(b));
    TORVConstraintDefs c;
    c.LoadFromStream(s);
  };
  // ctFK and any value past ctCheck.
  ExpectCode(30316, [&] { load_constraints({1, 0, 0, 0, 1}); }, "Unknown Constraint Type: '1' - Native error: 30316");
  ExpectCode(30316, [&] { load_constraints({1, 0, 0, 0, 9}); });
  ExpectCode(10159, [&] { load_constraints({0xFF, 0xFF, 0xFF, 0xFF}); });

  // A unique constraint whose name count disagrees with the name's own length byte.
  Bytes unique = {1, 0, 0, 0, ctUnique, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  unique.insert(unique.end(), {4, 0, 0, 0, 1, 'A'});
  ExpectCode(30306, [&] { load_constraints(unique); });
  Bytes huge = {1, 0, 0, 0, ctUnique, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0x7F};
  ExpectCode(30305, [&] { load_constraints(huge); });

  // A field def with a storage type byte beyond the known types.
  Bytes field = {1, 0, 0, 0, 1, 'F', 1, 0, 0, 0, 200, 7};
  platform::TMemoryStream fs(field);
  TORVFieldDefs f;
  ExpectCode(10187, [&] { f.LoadFromStream(fs); });
  EXPECT_EQ(f.GetCount(), 1) << "the defs read so far stay in the collection";

  // An index def with a negative column count.
  Bytes index = {1, 0, 0, 0, 1, 'I', 1, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  platform::TMemoryStream xs(index);
  TORVIndexDefs x;
  ExpectCode(10352, [&] { x.LoadFromStream(xs); });
}

TEST(TORVDefsStream, LongConstraintNamesRoundTrip) {
  TORVConstraintDefs c;
  auto* nn = c.AddNotNull();
  nn->SetNames(std::string(300, 'c'), std::string(255, 't'), "s");
  EXPECT_EQ(nn->ColumnName.size(), 255u);
  auto* u = c.AddUnique();
  u->TableName = std::string(255, 'u');
  platform::TMemoryStream s;
  c.SaveToStream(s);
  s.SetPosition(0);
  TORVConstraintDefs back;
  back.LoadFromStream(s);
  // The one-byte count form holds names of up to 254 characters; the four-byte form 255.
  EXPECT_EQ(static_cast<TORVConstraintDefNotNull*>(back.GetDef(0))->ColumnName, std::string(254, 'c'));
  EXPECT_EQ(static_cast<TORVConstraintDefUnique*>(back.GetDef(1))->TableName, std::string(255, 'u'));
  EXPECT_EQ(s.GetPosition(), s.GetSize());
}

TEST(TORVFieldDef, TypesSizesAndOffsets) {
  TORVFieldDef d;
  d.SetFieldDefDataType(aftWideString, 20);
  EXPECT_EQ(d.BaseFieldType, bftWideVarchar);
  EXPECT_EQ(d.MemoryDataSize, 42);
  EXPECT_EQ(d.DiskDataSize, 42);
  ExpectCode(30007, [&] { d.SetFieldDefDataType(aftUnknown, 0); });
  ExpectCode(30008, [&] { d.SetFieldDefDataType(bftUnknown, 0); });
  ExpectCode(30051, [&] { d.SetFieldDefDataType(aftWideString, 0x40000000); });

  TORVFieldDefs f;
  for (int i = 0; i < 9; ++i) {
    auto* x = f.AddCreated();
    x->Name = "F" + std::to_string(i);
    x->SetFieldDefDataType(i == 1 ? aftBlob : aftInteger, 0);
  }
  f.RecalcFieldOffsets();
  EXPECT_EQ(f[0]->MemoryOffset, 2);
  EXPECT_EQ(f[0]->DiskOffset, 2);
  EXPECT_EQ(f[2]->MemoryOffset, 2 + 4 + 10);
  EXPECT_EQ(f[2]->DiskOffset, 2 + 4 + 6);
  EXPECT_EQ(f.GetMemoryRecordBufferSize(), 2 + 8 * 4 + 10);
  EXPECT_EQ(f.GetDiskRecordBufferSize(), 2 + 8 * 4 + 6);
}

TEST(TORVMetaObjectDefs, LookupAssignAndListOperations) {
  TORVFieldDefs f;
  MakeFields(f);
  EXPECT_EQ(f.GetDefNumberByName("name"), 1);
  EXPECT_EQ(f.GetDefByName("nope"), nullptr);
  EXPECT_EQ(f.GetDefNumberByObjectId(7), 2);
  EXPECT_EQ(f.GetDefByObjectId(99), nullptr);

  TORVFieldDefs copy;
  copy.Assign(f);
  ASSERT_EQ(copy.GetCount(), 3);
  f[1]->DefaultValue->SetDataAsAnsiString("xyz");
  EXPECT_EQ(copy[1]->DefaultValue->GetDataAsAnsiString(), "abc") << "the default is copied, not shared";
  EXPECT_EQ(copy[2]->MemoryOffset, f[2]->MemoryOffset);

  f[2]->Name = "id";
  ExpectCode(10424, [&] { copy.Assign(f); }, "Duplicate field name id - Native error: 10424");

  ASSERT_EQ(copy.GetCount(), 2) << "the defs assigned before the duplicate stay";
  copy.Move(0, 1);
  EXPECT_EQ(copy[1]->Name, "ID");
  copy.Delete(0);
  EXPECT_EQ(copy.GetCount(), 1);
  EXPECT_THROW(copy.Delete(5), std::out_of_range);
  EXPECT_THROW(copy.GetDef(-1), std::out_of_range);

  TORVMetaObjectDefs base;
  ExpectCode(30339, [&] { base.InternalAddCreated(); },
             "The method 'InternalAddCreated' not overrided in class 'TORVMetaObjectDefs' - Native error: 30339");

  TORVConstraintDefs c, cc;
  MakeConstraints(c);
  cc.Assign(c);
  ASSERT_EQ(cc.GetCount(), 3);
  EXPECT_EQ(Saved(cc), Saved(c));
  c.Add(std::make_unique<TORVConstraintDef>(ctFK));
  ExpectCode(30035, [&] { cc.Assign(c); });

  TORVIndexDefs x, xc;
  MakeIndexes(x);
  xc.Assign(x);
  ASSERT_EQ(xc.GetCount(), 3);
  EXPECT_TRUE(xc[1]->Temporary);
  EXPECT_EQ(xc[1]->SessionID, 3);
  EXPECT_EQ(xc[2]->ColumnCount(), 2);
  EXPECT_EQ(xc[2]->Columns(0).MaxIndexedSize, 40);
  ExpectCode(10278, [&] { xc[0]->AssignByNames({"A", "B"}, {"ASC"}, {"CASE", "CASE"}); });
  ExpectCode(10279, [&] { xc[0]->AssignByNames({"A"}, {"ASC"}, {}); });
}

TEST(TORVIndexDefs, FindIndexMatchesLeadingColumns) {
  TORVFieldDefs f;
  auto* name = f.AddCreated();
  name->Name = "NAME";
  name->SetFieldDefDataType(aftString, 20);
  auto* num = f.AddCreated();
  num->Name = "NUM";
  num->SetFieldDefDataType(aftInteger, 0);
  TORVIndexDefs x;
  auto* a = x.AddCreated();
  a->ObjectID = 40;
  a->AssignByNames({"NAME", "DATE"}, {"ASC", "ASC"}, {"CASE", "CASE"});
  auto* b = x.AddCreated();
  b->ObjectID = 41;
  b->AssignByNames({"NUM"}, {"ASC"}, {"CASE"});
  auto* t = x.AddCreated();
  t->ObjectID = 42;
  t->Temporary = true;
  t->SessionID = 7;
  t->AssignByNames({"NUM"}, {"DESC"}, {"NO_CASE"});

  struct Case {
    Names names, order, cs;
    int32_t session, expected;
  } cases[] = {
      {{"name"}, {"ASC"}, {"CASE"}, 1, 40},
      {{"NAME"}, {"DESC"}, {"CASE"}, 1, -1},
      {{"NAME", "DATE"}, {"", ""}, {"", ""}, 1, 40},
      {{"NAME", "DATE", "X"}, {"", "", ""}, {"", "", ""}, 1, -1},
      {{"NUM"}, {"ASC"}, {"NO_CASE"}, 1, -1},  // an integer column marked case-sensitive
      {{"NUM"}, {"ASC"}, {"CASE"}, 1, 41},
      {{"NUM"}, {"DESC"}, {"NO_CASE"}, 1, -1},  // another session's temporary index
      {{"NUM"}, {"DESC"}, {"NO_CASE"}, 7, 42},
      {{"NUM"}, {"DESC"}, {"CASE"}, 7, 42},  // CASE asks nothing of a non-text column
  };
  for (const auto& c : cases) {
    EXPECT_EQ(x.FindIndex(&c.names, &c.order, &c.cs, c.session, &f), c.expected) << c.names[0] << " " << c.order[0];
  }
  // A case-insensitive index does not serve a case-sensitive search on text.
  a->Columns(0).CaseInsensitive = true;
  const Names n1{"NAME"}, asc{"ASC"}, cs{"CASE"}, two{"A", "B"};
  EXPECT_EQ(x.FindIndex(&n1, &asc, &cs, 1, &f), -1);
  EXPECT_FALSE(x.IsIndexExists(&n1, &asc, &cs, 1, &f));
  ExpectCode(10389, [&] { x.FindIndex(nullptr, &asc, &cs, 1, &f); });
  ExpectCode(10390, [&] { x.FindIndex(&n1, nullptr, &cs, 1, &f); });
  ExpectCode(10391, [&] { x.FindIndex(&n1, &asc, nullptr, 1, &f); });
  ExpectCode(10276, [&] { x.FindIndex(&two, &asc, &cs, 1, &f); });
  const Names asc2{"ASC", "ASC"};
  ExpectCode(10277, [&] { x.FindIndex(&two, &asc2, &cs, 1, &f); });
}

class FakeExpression : public IORVDefaultValueExpression {
 public:
  explicit FakeExpression(std::string t) : text(std::move(t)) {}
  const TORVVariant* GetValue(bool) override { return nullptr; }
  std::string text;
};

class FakeExpressionFactory : public IORVDefaultValueExpressionFactory {
 public:
  bool IsNonConstantExpression(const TORVVariant& Value) override {
    return Value.GetDataAsAnsiString() == "CURRENT_DATE";
  }
  std::unique_ptr<IORVDefaultValueExpression> ParseForDefaultValueExpression(const std::string& Text) override {
    ++parsed;
    return std::make_unique<FakeExpression>(Text);
  }
  int parsed = 0;
};

TEST(TORVFieldDef, NonConstantDefaultsBecomeExpressions) {
  FakeExpressionFactory factory;
  auto* previous = SetDefaultValueExpressionFactory(&factory);
  TORVFieldDefs f;
  auto* d = f.AddCreated();
  d->Name = "D";
  d->SetFieldDefDataType(aftString, 20);
  d->DefaultValue->SetDataAsAnsiString("CURRENT_DATE");
  auto* k = f.AddCreated();
  k->Name = "K";
  k->SetFieldDefDataType(aftString, 20);
  k->DefaultValue->SetDataAsAnsiString("abc");

  TORVFieldDefs back;
  platform::TMemoryStream s;
  f.SaveToStream(s);
  s.SetPosition(0);
  back.LoadFromStream(s);
  ASSERT_NE(back[0]->DefaultValueExpr, nullptr);
  EXPECT_EQ(static_cast<FakeExpression*>(back[0]->DefaultValueExpr.get())->text, "CURRENT_DATE");
  EXPECT_EQ(back[1]->DefaultValueExpr, nullptr);

  TORVFieldDef copy;
  copy.Assign(*back[0]);
  EXPECT_NE(copy.DefaultValueExpr, nullptr);
  EXPECT_NE(copy.DefaultValueExpr.get(), back[0]->DefaultValueExpr.get());
  EXPECT_EQ(factory.parsed, 2);
  SetDefaultValueExpressionFactory(previous);
}

}  // namespace
}  // namespace orv
