// Whole-table exchange with other datasets: import from and export to any dataset of the data
// layer, and batch moves of records from another engine dataset into this table.
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/cp1252.h"
#include "platform/base/numeric.h"
#include "platform/base/scope_exit.h"
#include "platform/data/field.h"
#include "platform/data/index_defs.h"
#include "platform/data/same_text.h"

namespace orv {

using namespace platform::data;

// ---- ImportTable ------------------------------------------------------------------------------

std::string TORVTable::CopyUnderTableDataLock(TORVCursor& Cursor, TDataSet& Source, TDataSet& Destination,
                                              const TORVDataSetNotifyEvent& Before,
                                              const TORVDataSetProgressEvent& Progress,
                                              const TORVDataSetNotifyEvent& After, const char* Message) {
  std::string copyLog;
  Cursor.LockTableData();
  platform::ScopeExit unlock([&] {
    DoAfterProgress(After, *this);
    Cursor.UnlockTableData();
  });
  DoBeforeProgress(Before, *this, Message, false);
  bool cont = true;
  InternalCopyRecords(
      Source, Destination, copyLog, cont, true, false,
      [&](TDataSet& Sender, int PercentDone, bool& Cont) { DoProgress(Progress, Sender, PercentDone, Cont); }, 0,
      100);
  return copyLog;
}

bool TORVTable::ImportTable(TDataSet& SourceTable, std::string& Log, const TIndexDefs* aIndexDefs) {
  SetFiltered(false);
  const std::string logBefore = Log;
  CheckInactive();
  IndexDefs().Clear();
  AdvIndexDefs().Clear();
  FieldDefs().Clear();
  AdvFieldDefs().Clear();
  if (auto* engine = dynamic_cast<TORVDataSet*>(&SourceTable)) {
    engine->FieldDefs().Update();
    engine->IndexDefs().Update();
    AdvFieldDefs().Assign(engine->AdvFieldDefs());
    AdvIndexDefs().Assign(engine->AdvIndexDefs(), true);
  } else {
    SourceTable.FieldDefs().Update();
    FieldDefs().Assign(SourceTable.FieldDefs());
    if (aIndexDefs) {
      for (int i = 0; i < aIndexDefs->Count(); ++i) {
        const TIndexDef& def = *(*aIndexDefs)[i];
        if (def.Fields().empty()) {
          Log += "Cannot import index '" + def.Name() + "'. Index type is not supported, index skipped";
          continue;
        }
        TIndexDef* copy = IndexDefs().Add(def.Name(), def.Fields(), def.Options());
        copy->SetDescFields(def.DescFields());
      }
      for (int i = 0; i < IndexDefs().Count(); ++i) {
        if (IndexDefs()[i]->Name().empty()) {
          IndexDefs()[i]->SetName("idxPrimaryKey");
          break;
        }
      }
    }
  }
  try {
    CreateTable();
  } catch (const std::exception& e) {
    Log += std::string("Error importing table. Cannot create table due to error: ") + e.what() + "\r\n";
    return false;
  }
  Open();
  const std::string copyLog = CopyUnderTableDataLock(Cursor(10259), SourceTable, *this, BeforeImport,
                                                     OnImportProgress, AfterImport, "Import Table...");
  if (!copyLog.empty()) Log += "Error importing table. Cannot copy data due to error: " + copyLog + "\r\n";
  Close();
  return Log == logBefore;
}

bool TORVTable::ImportTable(TDataSet& SourceTable) {
  std::string log;
  return ImportTable(SourceTable, log, nullptr);
}

// ---- ExportTable ------------------------------------------------------------------------------

bool TORVTable::ExportTable(TDataSet& DestinationTable, const std::function<void()>& CreateTablePointer,
                            std::string& Log) {
  const std::string logBefore = Log;
  DestinationTable.Close();
  const bool wasActive = Active();
  TBookmark bookmark;
  if (wasActive && BookmarkAvailable()) bookmark = GetBookmark();
  Close();
  Open();
  platform::ScopeExit restore([&] {
    if (wasActive) {
      if (!bookmark.empty()) GotoBookmark(bookmark);
    } else {
      Close();
    }
  });
  TORVCursor& cursor = Cursor(10262);
  if (auto* engine = dynamic_cast<TORVDataSet*>(&DestinationTable)) {
    engine->AdvFieldDefs().Assign(AdvFieldDefs());
  } else {
    DestinationTable.FieldDefs().Assign(FieldDefs());
  }
  try {
    if (CreateTablePointer) CreateTablePointer();
  } catch (const std::exception& e) {
    Log += std::string("Error exporting table. Cannot create table due to error: ") + e.what() + "\r\n";
    return false;
  }
  try {
    DestinationTable.Open();
    for (int i = 0; i < DestinationTable.FieldDefs().Count(); ++i) DestinationTable.FieldDefs()[i]->SetRequired(false);
    for (int i = 0; i < DestinationTable.FieldCount(); ++i) DestinationTable.Fields()[i]->SetRequired(false);
  } catch (const std::exception& e) {
    Log += std::string("Error exporting table. Cannot open destination table due to error: ") + e.what() + "\r\n";
    return false;
  }
  const std::string copyLog = CopyUnderTableDataLock(cursor, *this, DestinationTable, BeforeExport,
                                                     OnExportProgress, AfterExport, "Export Table...");
  if (!copyLog.empty()) Log += "Error exporting table. Cannot copy data due to error: " + copyLog + "\r\n";
  return Log == logBefore;
}

bool TORVTable::ExportTable(TDataSet& DestinationTable, const std::function<void()>& CreateTablePointer) {
  std::string log;
  return ExportTable(DestinationTable, CreateTablePointer, log);
}

// ---- BatchMove --------------------------------------------------------------------------------

namespace {

// Every field of From whose name Into has is assigned to Into's field of that name.
void AssignByName(TDataSet& From, TDataSet& Into) {
  for (int i = 0; i < From.FieldCount(); ++i) {
    TField* source = From.Fields()[i];
    if (TField* target = Into.FindField(source->FieldName())) AssignField(*source, *target);
  }
}

}  // namespace

void TORVTable::BatchMove(TORVDataSet& Source, TORVBatchMoveType MoveType,
                          const std::string& DstTableIndexNameToIdentifyEqualRecords) {
  DisableControls();
  Source.DisableControls();
  TBookmark sourceBookmark, ownBookmark;
  if (Source.Active() && Source.BookmarkAvailable()) sourceBookmark = Source.GetBookmark();
  if (Active() && BookmarkAvailable()) ownBookmark = GetBookmark();
  const std::string oldIndexName = IndexName();
  const std::string oldIndexFieldNames = IndexFieldNames();
  TDataSource* oldMaster = MasterSource();
  auto* sourceTable = dynamic_cast<TORVTable*>(&Source);
  const std::string oldSourceIndexName = sourceTable ? sourceTable->IndexName() : std::string();
  const std::string oldSourceIndexFieldNames = sourceTable ? sourceTable->IndexFieldNames() : std::string();
  std::vector<std::string> createdHere, createdInSource;
  bool before = false;

  platform::ScopeExit finish([&] {
    if (before) DoAfterProgress(AfterBatchMove, Source);
    if (!oldIndexFieldNames.empty()) {
      SetIndexFieldNames(oldIndexFieldNames);
    } else {
      SetIndexName(oldIndexName);
    }
    if (oldMaster) SetMasterSource(oldMaster);
    if (sourceTable && !createdInSource.empty()) {
      if (!oldSourceIndexFieldNames.empty()) {
        sourceTable->SetIndexFieldNames(oldSourceIndexFieldNames);
      } else {
        sourceTable->SetIndexName(oldSourceIndexName);
      }
    }
    try {
      for (const std::string& name : createdHere) DeleteIndex(name);
      if (sourceTable)
        for (const std::string& name : createdInSource) sourceTable->DeleteIndex(name);
    } catch (...) {
    }
    EnableControls();
    Source.EnableControls();
    if (!sourceBookmark.empty()) Source.GotoBookmark(sourceBookmark);
    if (!ownBookmark.empty() && Active() && BookmarkValid(ownBookmark)) GotoBookmark(ownBookmark);
  });

  SetMasterSource(nullptr);
  SetIndexFieldNames("");
  Source.Open();
  if (!Exists() || MoveType == bmtCopy) {
    Close();
    Source.FieldDefs().Update();
    Source.IndexDefs().Update();
    FieldDefs().Assign(Source.FieldDefs());
    IndexDefs().Assign(Source.IndexDefs());
    AdvFieldDefs().Clear();
    AdvIndexDefs().Clear();
    CreateTable();
  }
  Open();
  Source.First();

  // The index that identifies equal records.
  if (MoveType != bmtCopy) {
    std::string matching = DstTableIndexNameToIdentifyEqualRecords;
    if (matching.empty()) {
      IndexDefs().SetUpdated(false);
      IndexDefs().Update();
      for (int i = 0; i < IndexDefs().Count() && matching.empty(); ++i)
        if (IndexDefs()[i]->Options().Contains(ixPrimary)) matching = IndexDefs()[i]->Name();
    }
    if (matching.empty()) {
      std::vector<std::string> fields, asc, cases;
      for (int i = 0; i < Source.FieldCount(); ++i) {
        const std::string& name = Source.Fields()[i]->FieldName();
        if (!FindField(name)) continue;
        fields.push_back(platform::Utf8ToCp1252(name));
        asc.push_back("ASC");
        cases.push_back("CASE");
      }
      bool created = false;
      matching = platform::Cp1252ToUtf8(FindOrCreateIndex(fields, asc, cases, created));
      if (created) createdHere.push_back(matching);
    }
    SetIndexName(matching);
  }

  int64_t count = Source.RecordCount();
  if (MoveType == bmtSynchronize) count += RecordCount();
  int64_t i = 1;
  bool cont = true;
  before = true;
  DoBeforeProgress(BeforeBatchMove, Source, "Batch Moving...", false);
  auto report = [&] {
    const int percent = count > 0 ? platform::Round(static_cast<double>(i) / static_cast<double>(count) * 100) : 100;
    DoProgress(OnBatchMoveProgress, Source, percent, cont);
    return cont;
  };

  while (!Source.Eof()) {
    if (!report()) break;
    bool found = false;
    if (MoveType != bmtCopy) {
      SetKey();
      for (int k = 0; k < IndexFieldCount(); ++k) {
        TField* keyField = GetIndexField(k);
        if (TField* from = Source.FindField(keyField->FieldName())) AssignField(*from, *keyField);
      }
      found = GotoKey();
    }
    const bool update = found && (MoveType == bmtAppendUpdate || MoveType == bmtUpdate || MoveType == bmtSynchronize);
    const bool insert = !found && MoveType != bmtDelete && MoveType != bmtUpdate;
    if (found && MoveType == bmtDelete) {
      Delete();
    } else if (update) {
      Edit();
      AssignByName(Source, *this);
      Post();
    } else if (insert) {
      try {
        Insert();
        AssignByName(Source, *this);
        Post();
      } catch (...) {
        // A record that cannot be inserted is skipped.
        try {
          Cancel();
        } catch (...) {
        }
      }
    }
    Source.Next();
    ++i;
  }

  if (MoveType == bmtSynchronize && cont) {
    count = Source.RecordCount() + RecordCount();
    First();
    std::vector<std::string> keyFields, asc, cases;
    std::string fieldList;
    for (int k = 0; k < IndexFieldCount(); ++k) {
      const std::string name = GetIndexField(k)->FieldName();
      keyFields.push_back(platform::Utf8ToCp1252(name));
      fieldList += (k ? ";" : "") + name;
    }
    IndexDefs().Update();
    const TIndexDef* current = IndexDefs().Find(IndexName());
    for (const std::string& name : keyFields) {
      const std::string utf8 = platform::Cp1252ToUtf8(name);
      auto listed = [&](const std::string& list) {
        std::vector<std::string> names;
        GetNamesList(names, list);
        for (const std::string& n : names)
          if (platform::data::SameText(n, utf8)) return true;
        return false;
      };
      asc.push_back(current && listed(current->DescFields()) ? "DESC" : "ASC");
      cases.push_back(current && listed(current->CaseInsFields()) ? "NO_CASE" : "CASE");
    }
    if (sourceTable) {
      bool created = false;
      const std::string index = platform::Cp1252ToUtf8(sourceTable->FindOrCreateIndex(keyFields, asc, cases, created));
      if (created) createdInSource.push_back(index);
      sourceTable->SetIndexName(index);
    }
    while (!Eof()) {
      if (!report()) break;
      bool found;
      if (sourceTable) {
        sourceTable->SetKey();
        for (int k = 0; k < sourceTable->IndexFieldCount(); ++k) {
          TField* keyField = sourceTable->GetIndexField(k);
          if (TField* from = FindField(keyField->FieldName())) AssignField(*from, *keyField);
        }
        found = sourceTable->GotoKey();
      } else {
        found = Source.Locate(fieldList, FieldValues(fieldList), {});
      }
      if (found) {
        Next();
      } else {
        Delete();
      }
      ++i;
    }
  }
}

}  // namespace orv
