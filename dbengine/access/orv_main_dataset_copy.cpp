// The record copier behind table copies, restructuring, import and export: every record of one
// dataset into another, with a log of what could not be copied, optional tolerance of errors,
// progress reports and cancellation.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "dbengine/access/orv_main_dataset.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/numeric.h"
#include "platform/data/field.h"

namespace orv {

using namespace platform::data;

namespace {

const char* const kCRLF = "\r\n";

std::string MessageOf(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

std::string TableNameOf(TDataSet& DataSet) {
  auto* table = dynamic_cast<TORVTable*>(&DataSet);
  return table ? table->TableName() : std::string("unknown");
}

// The destination field of source field k: by object id when restructuring between two tables
// (a column keeps its id through a restructure, also under a new name), else by name.
TField* DestinationField(TDataSet& Source, TDataSet& Destination, TField& SourceField, int32_t k,
                         bool RestructuringTable) {
  if (RestructuringTable) {
    auto* src = dynamic_cast<TORVTable*>(&Source);
    auto* dst = dynamic_cast<TORVTable*>(&Destination);
    if (src && dst && k < src->AdvFieldDefs().GetCount()) {
      const int32_t id = src->AdvFieldDefs()[k]->ObjectID;
      TORVAdvFieldDefs& target = src->RestructureFieldDefs();
      for (int32_t p = 0; p < target.GetCount(); ++p)
        if (target[p]->ObjectID == id && id >= 0 && p < Destination.FieldCount()) return Destination.Fields()[p];
    }
  }
  return Destination.FindField(SourceField.FieldName());
}

}  // namespace

void AssignField(TField& Source, TField& Destination) {
  if (Source.IsNull()) {
    Destination.Clear();
  } else if (Source.IsBlob() && Destination.IsBlob()) {
    Destination.SetAsBytes(Source.AsBytes());
  } else {
    Destination.Assign(Source);
  }
}

bool TORVDataSet::InternalCopyRecords(TDataSet& SourceDataset, TDataSet& DestinationDataset, std::string& Log,
                                      bool& Continue, bool IgnoreErrors, bool RestructuringTable,
                                      const TORVDataSetProgressEvent& ProgressEvent, int32_t MinProgress,
                                      int32_t MaxProgress) {
  const std::string tableName = TableNameOf(*this);
  const std::string sourceName = TableNameOf(SourceDataset);
  SourceDataset.CheckBrowseMode();
  int64_t recNo = 1;
  const int64_t progressStep =
      MaxProgress == MinProgress ? 1 : SourceDataset.RecordCount() / (MaxProgress - MinProgress) + 1;
  const int64_t reportEvery = std::max<int64_t>(1, std::min<int64_t>(progressStep, 30));
  try {
    SourceDataset.Refresh();
  } catch (...) {
    // A refresh only brings in other users' latest changes; the copy works without it.
  }
  TBookmark bookmark;
  if (SourceDataset.BookmarkAvailable()) bookmark = SourceDataset.GetBookmark();
  bool result = true;
  struct Restore {
    TDataSet& source;
    TBookmark& bookmark;
    ~Restore() {
      if (bookmark.empty()) return;
      try {
        source.GotoBookmark(bookmark);
      } catch (...) {
        // The record it stood on may be gone; the copy's outcome does not depend on it.
      }
      source.FreeBookmark(bookmark);
    }
  } restore{SourceDataset, bookmark};

  // The records the table says it holds: a damaged page can hide records from the walk below
  // without any error, and such a loss must reach the log rather than pass for a whole copy.
  int64_t expected = -1;
  try {
    expected = SourceDataset.RecordCount();
  } catch (...) {
  }
  bool terminated = false;

  SourceDataset.First();
  while (!SourceDataset.Eof()) {
    DestinationDataset.Insert();
    const int32_t defCount = SourceDataset.FieldDefs().Count();
    const bool byPosition = SourceDataset.FieldCount() == defCount;
    for (int32_t k = 0; k < defCount; ++k) {
      TField* sourceField = byPosition ? SourceDataset.Fields()[k]
                                       : SourceDataset.FindField(SourceDataset.FieldDefs()[k]->Name());
      if (!sourceField) {
        const std::string line = "Error copying table \"" + sourceName + "\". Field '" +
                                 SourceDataset.FieldDefs()[k]->Name() +
                                 "' was not copied: its type is not supported here" + kCRLF;
        Log += line;
        if (!IgnoreErrors) {
          try {
            DestinationDataset.Cancel();
          } catch (...) {
          }
          throw EORVException(10499, line);
        }
        result = false;
        continue;
      }
      TField* destField = DestinationField(SourceDataset, DestinationDataset, *sourceField, k, RestructuringTable);
      if (!destField) continue;
      try {
        AssignField(*sourceField, *destField);
      } catch (...) {
        Log += "Error copying table \"" + tableName + "\". Record #" + std::to_string(recNo) + ", field '" +
               sourceField->FieldName() + "' was copied with Null value due to error: " +
               MessageOf(std::current_exception()) + kCRLF;
        try {
          destField->Clear();
        } catch (...) {
        }
        if (!IgnoreErrors) {
          try {
            DestinationDataset.Cancel();
          } catch (...) {
          }
          throw;
        }
        result = false;
      }
    }
    try {
      DestinationDataset.Post();
    } catch (...) {
      Log += "Error copying table \"" + tableName + "\". Record #" + std::to_string(recNo) +
             " was not imported due to error: " + MessageOf(std::current_exception()) + kCRLF + kCRLF;
      try {
        DestinationDataset.Cancel();
      } catch (...) {
      }
      if (!IgnoreErrors) throw;
      result = false;
    }

    ++recNo;
    try {
      SourceDataset.Next();
    } catch (...) {
      // A damaged record: skip to the next one that can be read by its number. When none can,
      // the source is done; going on from where it stands would copy its record again.
      bool found = false;
      const int64_t count = SourceDataset.RecordCount();
      while (!found && recNo <= count) {
        try {
          SourceDataset.SetRecNo(static_cast<int>(recNo));
          found = true;
        } catch (...) {
          Log += "Record #" + std::to_string(recNo) + " corrupted and skipped." + kCRLF;
          ++recNo;
        }
      }
      if (!found) break;
    }

    if ((recNo - 2) % reportEvery == 0) {
      const int64_t count = SourceDataset.RecordCount();
      const int32_t progress =
          count > 0 ? MinProgress + platform::Round(static_cast<double>(MaxProgress - MinProgress) *
                                                    static_cast<double>(recNo - 1) / static_cast<double>(count))
                    : MinProgress;
      if (ProgressEvent) ProgressEvent(SourceDataset, progress, Continue);
      if (!Continue) {
        Log += std::string("Terminated by User.") + kCRLF;
        result = false;
        terminated = true;
        break;
      }
    }
  }
  // recNo - 1 records were copied or logged as skipped.
  if (!terminated && expected > recNo - 1) {
    const std::string line = "Error copying table \"" + sourceName + "\". " +
                             std::to_string(expected - (recNo - 1)) + " of its " + std::to_string(expected) +
                             " records could not be read and were not copied." + kCRLF;
    Log += line;
    if (!IgnoreErrors) throw EORVException(10499, line);
    result = false;
  }
  return result;
}

}  // namespace orv
