#include "platform/data/date_time_field.h"

#include "platform/base/number_parse.h"
#include "platform/data/date_time_text.h"

namespace platform::data {

TDateTimeField::TDateTimeField() : TDateTimeField(ftDateTime) {}
TDateTimeField::TDateTimeField(TFieldType type) : TField(type) {}
TDateField::TDateField() : TDateTimeField(ftDate) {}
TTimeField::TTimeField() : TDateTimeField(ftTime) {}
TSQLTimeStampField::TSQLTimeStampField() : TDateTimeField(ftTimeStamp) {}

TDateTime TDateTimeField::AsDateTime() {
  double v = 0;
  if (!GetData(&v, false)) return 0;
  return v;
}

void TDateTimeField::SetAsDateTime(TDateTime value) { SetData(&value, false); }

std::string TDateTimeField::FormatValue(TDateTime value) { return DateTimeToStr(value); }
bool TDateTimeField::ParseValue(const std::string& text, TDateTime& value) { return TryStrToDateTime(text, value); }

std::string TDateField::FormatValue(TDateTime value) { return DateToStr(value); }
bool TDateField::ParseValue(const std::string& text, TDateTime& value) { return TryStrToDate(text, value); }

std::string TTimeField::FormatValue(TDateTime value) { return TimeToStr(value); }
bool TTimeField::ParseValue(const std::string& text, TDateTime& value) { return TryStrToTime(text, value); }

std::string TDateTimeField::AsString() { return IsNull() ? std::string() : FormatValue(AsDateTime()); }

void TDateTimeField::SetAsString(const std::string& utf8) {
  if (utf8.empty()) {
    Clear();
    return;
  }
  TDateTime v = 0;
  if (!ParseValue(utf8, v)) throw EConvertError("'" + utf8 + "' is not a valid " + ValueKind());
  SetAsDateTime(v);
}

std::string TDateTimeField::GetText(bool display_text) {
  if (IsNull()) return {};
  if (display_text && !display_format_.empty()) return FormatDateTime(display_format_, AsDateTime());
  return FormatValue(AsDateTime());
}

Variant TDateTimeField::GetAsVariant() { return Variant::FromDate(AsDateTime()); }
void TDateTimeField::SetVarValue(const Variant& value) { SetAsDateTime(value.AsDateTime()); }

TSQLTimeStamp TSQLTimeStampField::AsSQLTimeStamp() {
  TSQLTimeStamp ts;
  if (!GetData(&ts, false)) return {};
  return ts;
}

void TSQLTimeStampField::SetAsSQLTimeStamp(const TSQLTimeStamp& value) {
  TSQLTimeStamp copy = value;
  SQLTimeStampToDateTime(copy);  // refuses an impossible stamp before it reaches the record
  SetData(&copy, false);
}

TDateTime TSQLTimeStampField::AsDateTime() {
  if (IsNull()) return 0;
  return SQLTimeStampToDateTime(AsSQLTimeStamp());
}

void TSQLTimeStampField::SetAsDateTime(TDateTime value) {
  TSQLTimeStamp ts = DateTimeToSQLTimeStamp(value);
  SetData(&ts, false);
}

}  // namespace platform::data
