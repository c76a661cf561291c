#include "dbengine/access/orv_main_blob_stream.h"

#include "dbengine/access/orv_main_dataset.h"
#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/orv_except.h"
#include "platform/data/blob_field.h"
#include "platform/data/exception_handler.h"

namespace orv {

using namespace platform::data;

TORVBLOBStream::TORVBLOBStream(TField* Field, TBlobStreamMode Mode) {
  auto* dataset = dynamic_cast<TORVDataSet*>(Field->DataSet());
  if (!dataset) throw EORVException(10108, "Nil pointer occured");
  if (Mode != bmRead && dataset->ReadOnly()) throw EORVException(10106, "Dataset is in read only mode");
  TField* field = dataset->FieldByName(Field->FieldName());
  FBLOBStream = dynamic_cast<TORVLocalBLOBStream*>(dataset->InternalCreateBlobStream(field, Mode));
  FField = Field;
  FDataSet = dataset;
  if (!FBLOBStream) return;
  SetBlockSize(FBLOBStream->BlockSize());
  FBLOBStream->FUserBLOBStream = this;
  if (Mode == bmWrite) {
    Seek(0, soBeginning);
    Truncate();
  }
}

TORVBLOBStream::~TORVBLOBStream() {
  bool modified = false;
  if (FBLOBStream) {
    modified = FBLOBStream->Modified();
    FBLOBStream->FUserBLOBStream = nullptr;
    FBLOBStream = nullptr;
    try {
      FDataSet->CloseBlob(FField);
    } catch (...) {
      HandleException();
    }
  }
  if (!modified) return;
  try {
    if (auto* blob = dynamic_cast<TBlobField*>(FField)) blob->SetModified(true);
    FDataSet->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(FField));
  } catch (...) {
    HandleException();
  }
}

void TORVBLOBStream::LocalStreamClosing(TORVLocalBLOBStream& /*Stream*/) {
  // The record the stream belonged to is being posted, cancelled or closed: what was written
  // is the cursor's business from here on.
  FBLOBStream = nullptr;
}

int32_t TORVBLOBStream::Read(void* Buffer, int32_t Count) { return FBLOBStream ? FBLOBStream->Read(Buffer, Count) : 0; }

int32_t TORVBLOBStream::Write(const void* Buffer, int32_t Count) {
  if (!FBLOBStream) return 0;
  const int32_t written = FBLOBStream->Write(Buffer, Count);
  if (written > 0) FBLOBStream->SetModified(true);
  return written;
}

int64_t TORVBLOBStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  return FBLOBStream ? FBLOBStream->Seek(Offset, Origin) : 0;
}

int64_t TORVBLOBStream::GetSize() { return FBLOBStream ? FBLOBStream->GetSize() : 0; }

void TORVBLOBStream::InternalSetSize(int64_t NewSize) {
  if (!FBLOBStream) return;
  FBLOBStream->SetSize(NewSize);
  if (FBLOBStream->GetSize() == NewSize) FBLOBStream->SetModified(true);
}

int64_t TORVBLOBStream::GetCompressedSize() {
  return FBLOBStream ? FBLOBStream->TemporaryStream().GetCompressedSize() : 0;
}

}  // namespace orv
