#pragma once
// Date and time fields. Their native record forms are the platform's: a date is an Int32 day
// count from 0001-01-01 (1899-12-30 is 693594), a time an Int32 count of milliseconds since
// midnight, a date-time a double count of milliseconds from 0001-01-01, a time stamp the
// 16-byte TSQLTimeStamp. The dataset's DataConvert turns them into TDateTime.
#include "platform/data/field.h"

namespace platform::data {

class TDateTimeField : public TField {
 public:
  TDateTimeField();

  int DataSize() const override { return 8; }
  // A display format in the letters of FormatDateTime; empty uses the process settings.
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(std::string f) { display_format_ = std::move(f); }

  std::string AsString() override;
  void SetAsString(const std::string& utf8) override;
  double AsFloat() override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime value) override;

 protected:
  explicit TDateTimeField(TFieldType type);
  std::string GetText(bool display_text) override;
  Variant GetAsVariant() override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return 19; }
  virtual std::string FormatValue(TDateTime value);
  virtual bool ParseValue(const std::string& text, TDateTime& value);
  virtual const char* ValueKind() const { return "date and time"; }

 private:
  std::string display_format_;
};

class TDateField : public TDateTimeField {
 public:
  TDateField();
  int DataSize() const override { return 4; }

 protected:
  std::string FormatValue(TDateTime value) override;
  bool ParseValue(const std::string& text, TDateTime& value) override;
  const char* ValueKind() const override { return "date"; }
  int DefaultDisplayWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
 public:
  TTimeField();
  int DataSize() const override { return 4; }

 protected:
  std::string FormatValue(TDateTime value) override;
  bool ParseValue(const std::string& text, TDateTime& value) override;
  const char* ValueKind() const override { return "time"; }
  int DefaultDisplayWidth() const override { return 8; }
};

class TSQLTimeStampField : public TDateTimeField {
 public:
  TSQLTimeStampField();
  int DataSize() const override { return 16; }

  TSQLTimeStamp AsSQLTimeStamp();
  void SetAsSQLTimeStamp(const TSQLTimeStamp& value);
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime value) override;
};

}  // namespace platform::data
