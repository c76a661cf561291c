// A table written as an SQL script in the engine's dialect: DROP TABLE, CREATE TABLE with its
// columns and indexes, one INSERT per record. The script is the engine's 8-bit text; every
// value is written so that the SQL layer (and other SQL readers) can read it back: quotes
// inside texts doubled, numbers with a point whatever the process's number format, binary
// values as MimeToBin('<Base64>').
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/file/orv_cipher_util.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "platform/base/cp1252.h"
#include "platform/base/datetime.h"
#include "platform/base/number_format.h"
#include "platform/base/scope_exit.h"
#include "platform/base/stream.h"
#include "platform/data/field.h"
#include "platform/files/file.h"

namespace orv {

using namespace platform::data;

namespace {

std::string QuotedStr(const std::string& Text) {
  std::string out = "'";
  for (char c : Text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Upper(std::string Text) {
  for (char& c : Text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return Text;
}

// A name stays as it is unless a blank, a "-" or being a reserved word would make the SQL
// layer read it otherwise.
std::string QuoteName(const std::string& Name) {
  if (Name.find(' ') == std::string::npos && Name.find('-') == std::string::npos &&
      FindReservedWord(Upper(Name)) == rwNone)
    return Name;
  return QuotedStr(Name);
}

bool IsTextType(TORVAdvancedFieldType Type) {
  switch (Type) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftGuid: return true;
    default: return false;
  }
}

// A DEFAULT, MINVALUE or MAXVALUE value.
std::string ConstantText(const TORVVariant& Value, TORVAdvancedFieldType Type) {
  const std::string text = Value.GetDataAsAnsiString();
  return IsTextType(Type) ? QuotedStr(text) : text;
}

const char* CompressionName(TCompressionAlgorithm Algorithm) {
  switch (Algorithm) {
    case caZLIB: return "ZLIB";
    case caBZIP: return "BZIP";
    case caPPM: return "PPM";
    default: return "NONE";
  }
}

std::string Format2(const char* Pattern, int A, int B, int C, int D = 0, int E = 0, int F = 0) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, Pattern, A, B, C, D, E, F);
  return buffer;
}

// The value of one column in an INSERT statement, in the engine's 8-bit text.
std::string ValueText(TField& Field, TORVAdvancedFieldType Type) {
  if (Field.IsNull()) return "NULL";
  static const platform::FormatSettings kPoint{'.', ','};
  switch (Type) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftGuid:
    case aftMemo: return QuotedStr(platform::Utf8ToCp1252(Field.AsString()));
    case aftShortint:
    case aftSmallint:
    case aftInteger:
    case aftLargeint:
    case aftByte:
    case aftWord:
    case aftCardinal:
    case aftAutoInc:
    case aftAutoIncShortint:
    case aftAutoIncSmallint:
    case aftAutoIncInteger:
    case aftAutoIncLargeint:
    case aftAutoIncByte:
    case aftAutoIncWord:
    case aftAutoIncCardinal: return std::to_string(Field.AsLargeInt());
    case aftSingle:
    case aftDouble:
    case aftExtended:
    case aftCurrency: return platform::FloatToStr(Field.AsFloat(), kPoint);
    case aftDate: {
      int y, m, d;
      platform::DecodeDate(Field.AsDateTime(), y, m, d);
      return Format2("'%.4d-%.2d-%.2d'", y, m, d);
    }
    case aftTime: {
      int h, n, s, ms;
      platform::DecodeTime(Field.AsDateTime(), h, n, s, ms);
      return Format2("ToDate('%.2d:%.2d:%.2d','HH24:NN:SS')", h, n, s);
    }
    case aftDateTime:
    case aftTimeStamp: {
      int y, m, d, h, n, s, ms;
      const platform::TDateTime value = Field.AsDateTime();
      platform::DecodeDate(value, y, m, d);
      platform::DecodeTime(value, h, n, s, ms);
      return Format2("'%.4d-%.2d-%.2d %.2d:%.2d:%.2d'", y, m, d, h, n, s);
    }
    case aftBoolean: return Field.AsBoolean() ? "True" : "False";
    default: {
      // Binary columns, BLOBs and whatever else: the bytes, which MimeToBin turns back.
      const std::vector<uint8_t> bytes = Field.AsBytes();
      return "MimeToBin('" +
             TStringFormat_MIME64::Class().StrTo(bytes.data(), static_cast<int>(bytes.size())) + "')";
    }
  }
}

}  // namespace

void TORVTable::ExportToSQL(platform::TStream& Stream) {
  CheckInactive();
  Open();
  platform::ScopeExit close([&] { Close(); });
  const TORVExportToSqlOptions& o = FExportToSqlOptions;
  auto put = [&](const std::string& Text) { Stream.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size())); };
  const std::string table = QuoteName(platform::Utf8ToCp1252(TableName()));
  TORVAdvFieldDefs& fields = AdvFieldDefs();
  IndexDefs().Update();
  TORVAdvIndexDefs& indexes = AdvIndexDefs();

  if (o.Structure) {
    if (o.AddDropTable) put("DROP TABLE " + table + ";\r\n");
    std::string text = "CREATE TABLE " + table + " (\r\n";
    for (int32_t i = 0; i < fields.GetCount(); ++i) {
      const TORVAdvFieldDef& f = *fields[i];
      if (i > 0) text += ",\r\n";
      text += "  " + QuoteName(f.Name);
      text += f.DataType == aftString ? std::string(" VARCHAR") : " " + AftToStr(f.DataType);
      if (IsSizebleFieldType(f.DataType)) text += "(" + std::to_string(f.Size) + ")";
      if (o.BlobSettings && IsBLOBFieldType(f.DataType))
        text += " BLOBBlockSize " + std::to_string(f.BLOBBlockSize) + " BLOBCompressionAlgorithm " +
                CompressionName(f.BLOBCompressionAlgorithm) + " BLOBCompressionMode " +
                std::to_string(f.BLOBCompressionMode);
      if (!f.DefaultValue->GetIsNull()) text += " DEFAULT " + ConstantText(*f.DefaultValue, f.DataType);
      if (f.Required) text += " NOT NULL";
      if (!f.MinValue->GetIsNull()) text += " MINVALUE " + ConstantText(*f.MinValue, f.DataType);
      if (!f.MaxValue->GetIsNull()) text += " MAXVALUE " + ConstantText(*f.MaxValue, f.DataType);
    }
    for (int32_t i = 0; i < indexes.GetCount(); ++i) {
      const TORVAdvIndexDef& x = *indexes[i];
      text += ", \r\n";
      text += x.Options.Contains(ixPrimary)  ? "  PRIMARY KEY"
              : x.Options.Contains(ixUnique) ? "  UNIQUE INDEX"
                                             : "  INDEX";
      if (!x.Name.empty()) text += " " + QuoteName(x.Name);
      std::vector<std::string> columns, desc, caseIns;
      GetNamesList(columns, x.Fields);
      GetNamesList(desc, Upper(x.DescFields));
      GetNamesList(caseIns, Upper(x.CaseInsFields));
      auto listed = [](const std::vector<std::string>& List, const std::string& Name) {
        for (const std::string& n : List)
          if (n == Upper(Name)) return true;
        return false;
      };
      text += " (";
      for (size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) text += ", ";
        text += QuoteName(columns[c]);
        if (listed(desc, columns[c])) text += " DESC";
        if (listed(caseIns, columns[c])) text += " NOCASE";
      }
      text += ")";
    }
    text += "\r\n);\r\n";
    put(text);
  }

  if (o.Data) {
    std::string head = "INSERT INTO " + table + " ";
    if (o.FieldNamesInInserts) {
      head += "(";
      for (int32_t i = 0; i < fields.GetCount(); ++i) head += (i ? ", " : "") + QuoteName(fields[i]->Name);
      head += ") values (";
    } else {
      head += "values (";
    }
    for (First(); !Eof(); Next()) {
      std::string line = head;
      for (int32_t i = 0; i < fields.GetCount() && i < FieldCount(); ++i)
        line += (i ? ", " : "") + ValueText(*Fields()[i], fields[i]->DataType);
      line += ");\r\n";
      put(line);
    }
  }
  put("\r\n");
}

void TORVTable::ExportToSQL(const std::string& FileName) {
  CheckInactive();
  platform::File file;
  const int error = file.Create(FileName);
  if (error != 0)
    throw platform::EStreamError("Cannot create file \"" + FileName + "\". " + platform::ErrorText(error));
  platform::TMemoryStream script;
  ExportToSQL(script);
  const std::vector<uint8_t> bytes = [&] {
    script.SetPosition(0);
    return script.ReadToEnd();
  }();
  const platform::IoResult written = file.WriteAt(bytes.data(), bytes.size(), 0);
  if (!written.Complete(bytes.size()) || file.Close() != 0)
    throw platform::EStreamError("Cannot write file \"" + FileName + "\". " +
                                 platform::ErrorText(written.error ? written.error : EIO));
}

std::string TORVTable::ExportToSQL() {
  platform::TMemoryStream script;
  ExportToSQL(script);
  script.SetPosition(0);
  const std::vector<uint8_t> bytes = script.ReadToEnd();
  return platform::Cp1252ToUtf8(std::string(bytes.begin(), bytes.end()));
}

}  // namespace orv
