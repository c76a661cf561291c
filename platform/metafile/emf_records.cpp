#include "platform/metafile/emf_records.h"

#include <limits>
#include <string>
#include <type_traits>

namespace platform {
namespace {

constexpr size_t kHeaderBaseSize = 88;       // header without extensions
constexpr size_t kHeaderExt1Size = 100;      // with the pixel-format extension
constexpr size_t kHeaderFullSize = 108;      // with the micrometre extension
constexpr uint32_t kEofSize = 20;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 24));
}
void PutI32(std::vector<uint8_t>& out, int32_t v) { Put32(out, static_cast<uint32_t>(v)); }
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutRect(std::vector<uint8_t>& out, const EmfRect& r) {
  PutI32(out, r.Left);
  PutI32(out, r.Top);
  PutI32(out, r.Right);
  PutI32(out, r.Bottom);
}
void PutPoint(std::vector<uint8_t>& out, const EmfPoint& p) {
  PutI32(out, p.X);
  PutI32(out, p.Y);
}
void PutSize(std::vector<uint8_t>& out, const EmfSize& s) {
  PutI32(out, s.cx);
  PutI32(out, s.cy);
}

// Writes type and a size placeholder; Finish() fills the size in once the body is there.
size_t Begin(std::vector<uint8_t>& out, uint32_t type) {
  const size_t start = out.size();
  Put32(out, type);
  Put32(out, 0);
  return start;
}
void Finish(std::vector<uint8_t>& out, size_t start) {
  while ((out.size() - start) % 4 != 0) out.push_back(0);
  const uint32_t size = static_cast<uint32_t>(out.size() - start);
  for (int i = 0; i < 4; ++i) out[start + 4 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
}

bool IsValueType(uint32_t t) {
  return t == EMR_SETBKMODE || t == EMR_SETPOLYFILLMODE || t == EMR_SETROP2 || t == EMR_SETTEXTCOLOR ||
         t == EMR_SETBKCOLOR || t == EMR_RESTOREDC;
}
bool IsBoxType(uint32_t t) { return t == EMR_RECTANGLE || t == EMR_ELLIPSE || t == EMR_INTERSECTCLIPRECT; }
bool IsArcType(uint32_t t) { return t == EMR_ARC || t == EMR_CHORD || t == EMR_PIE; }
bool IsPolyType(uint32_t t) {
  return t == EMR_POLYGON || t == EMR_POLYLINE || t == EMR_POLYGON16 || t == EMR_POLYLINE16;
}
bool IsPoly16(uint32_t t) { return t == EMR_POLYGON16 || t == EMR_POLYLINE16; }

[[noreturn]] void WrongType(const char* what, uint32_t type) {
  throw std::invalid_argument(std::string("record type ") + std::to_string(type) + " is not a " + what);
}

// Bounds-checked little-endian reads inside one record.
class Cursor {
 public:
  Cursor(std::span<const uint8_t> rec, size_t record_offset) : rec_(rec), at_(8), record_offset_(record_offset) {}

  uint32_t U32() {
    Need(4);
    const uint32_t v = static_cast<uint32_t>(rec_[at_]) | static_cast<uint32_t>(rec_[at_ + 1]) << 8 |
                       static_cast<uint32_t>(rec_[at_ + 2]) << 16 | static_cast<uint32_t>(rec_[at_ + 3]) << 24;
    at_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint16_t U16() {
    Need(2);
    const uint16_t v = static_cast<uint16_t>(rec_[at_] | rec_[at_ + 1] << 8);
    at_ += 2;
    return v;
  }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  EmfRect Rect() {
    EmfRect r;
    r.Left = I32();
    r.Top = I32();
    r.Right = I32();
    r.Bottom = I32();
    return r;
  }
  EmfPoint Point() {
    EmfPoint p;
    p.X = I32();
    p.Y = I32();
    return p;
  }
  EmfSize Size() {
    EmfSize s;
    s.cx = I32();
    s.cy = I32();
    return s;
  }
  size_t Remaining() const { return rec_.size() - at_; }

  [[noreturn]] void Fail(const std::string& what) const {
    throw EMetafileError("Invalid metafile: " + what + " in the record at offset " + std::to_string(record_offset_));
  }

 private:
  void Need(size_t n) const {
    if (rec_.size() - at_ < n) Fail("record too short for its type");
  }
  std::span<const uint8_t> rec_;
  size_t at_;
  size_t record_offset_;
};

uint32_t ReadU32At(std::span<const uint8_t> data, size_t at) {
  return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
         static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

EmfRecord ParseHeader(Cursor& c, size_t size) {
  EmrHeader h;
  h.Bounds = c.Rect();
  h.Frame = c.Rect();
  if (c.U32() != kEmfSignature) c.Fail("missing EMF signature");
  c.U32();  // version: accepted as written
  h.Bytes = c.U32();
  h.Records = c.U32();
  h.Handles = c.U16();
  c.U16();  // reserved
  const uint32_t n_description = c.U32();
  const uint32_t off_description = c.U32();
  c.U32();  // palette entries
  h.Device = c.Size();
  h.Millimeters = c.Size();
  if (n_description != 0) {
    // The description is UTF-16 text inside the header record.
    const uint64_t end = static_cast<uint64_t>(off_description) + 2ull * n_description;
    if (off_description < kHeaderBaseSize || end > size) c.Fail("description outside the header");
  }
  // The extensions are present only when the record is long enough and no description sits
  // where they would be.
  const size_t ext_limit = n_description != 0 ? off_description : size;
  if (ext_limit >= kHeaderExt1Size) {
    c.U32();
    c.U32();
    c.U32();
  }
  if (ext_limit >= kHeaderFullSize) {
    h.Micrometers.cx = static_cast<int32_t>(c.U32());
    h.Micrometers.cy = static_cast<int32_t>(c.U32());
  } else {
    // Derived in 64 bits: a stated millimetre size whose micrometres do not fit the field
    // cannot describe a device, and is refused rather than wrapped round.
    const int64_t cx = int64_t{h.Millimeters.cx} * 1000, cy = int64_t{h.Millimeters.cy} * 1000;
    constexpr int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    if (cx < lo || cx > hi || cy < lo || cy > hi) c.Fail("reference device size out of range");
    h.Micrometers = {static_cast<int32_t>(cx), static_cast<int32_t>(cy)};
  }
  return h;
}

EmfRecord ParseRecord(uint32_t type, std::span<const uint8_t> rec, size_t offset) {
  Cursor c(rec, offset);
  switch (type) {
    case EMR_HEADER:
      return ParseHeader(c, rec.size());
    case EMR_EOF:
      return EmrEof{};
    case EMR_CREATEPEN: {
      EmrCreatePen r;
      r.ihPen = c.U32();
      r.PenStyle = c.U32();
      r.Width = c.Point().X;  // the y part of the width is unused by the format
      r.Color = c.U32();
      return r;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      EmrCreateBrushIndirect r;
      r.ihBrush = c.U32();
      r.BrushStyle = c.U32();
      r.Color = c.U32();
      r.Hatch = c.U32();
      return r;
    }
    case EMR_SELECTOBJECT:
      return EmrSelectObject{c.U32()};
    case EMR_DELETEOBJECT:
      return EmrDeleteObject{c.U32()};
    case EMR_SAVEDC:
      return EmrSaveDC{};
    case EMR_MOVETOEX:
    case EMR_LINETO:
      return EmrPointRecord{type, c.Point()};
    case EMR_ROUNDRECT: {
      EmrRoundRect r;
      r.Box = c.Rect();
      r.Corner = c.Size();
      return r;
    }
    default:
      break;
  }
  if (IsValueType(type)) return EmrValue{type, c.U32()};
  if (IsBoxType(type)) return EmrBox{type, c.Rect()};
  if (IsArcType(type)) {
    EmrArc r;
    r.Type = type;
    r.Box = c.Rect();
    r.Start = c.Point();
    r.End = c.Point();
    return r;
  }
  if (IsPolyType(type)) {
    EmrPoly r;
    r.Type = type;
    r.Bounds = c.Rect();
    const uint32_t count = c.U32();
    const size_t point_size = IsPoly16(type) ? 4 : 8;
    if (count > c.Remaining() / point_size) c.Fail("point count larger than the record");
    r.Points.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      EmfPoint p;
      if (IsPoly16(type)) {
        p.X = c.I16();
        p.Y = c.I16();
      } else {
        p = c.Point();
      }
      r.Points.push_back(p);
    }
    return r;
  }
  EmrUnknown u;
  u.Type = type;
  u.Payload.assign(rec.begin() + 8, rec.end());
  return u;
}

}  // namespace

uint32_t RecordType(const EmfRecord& record) {
  return std::visit(
      [](const auto& r) -> uint32_t {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, EmrHeader>) return EMR_HEADER;
        else if constexpr (std::is_same_v<T, EmrEof>) return EMR_EOF;
        else if constexpr (std::is_same_v<T, EmrCreatePen>) return EMR_CREATEPEN;
        else if constexpr (std::is_same_v<T, EmrCreateBrushIndirect>) return EMR_CREATEBRUSHINDIRECT;
        else if constexpr (std::is_same_v<T, EmrSelectObject>) return EMR_SELECTOBJECT;
        else if constexpr (std::is_same_v<T, EmrDeleteObject>) return EMR_DELETEOBJECT;
        else if constexpr (std::is_same_v<T, EmrSaveDC>) return EMR_SAVEDC;
        else if constexpr (std::is_same_v<T, EmrRoundRect>) return EMR_ROUNDRECT;
        else return r.Type;
      },
      record);
}

void WriteEmfRecord(std::vector<uint8_t>& out, const EmfRecord& record) {
  const uint32_t type = RecordType(record);
  std::visit(
      [&](const auto& r) {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, EmrValue>) {
          if (!IsValueType(type)) WrongType("single-value record", type);
        } else if constexpr (std::is_same_v<T, EmrPointRecord>) {
          if (type != EMR_MOVETOEX && type != EMR_LINETO) WrongType("point record", type);
        } else if constexpr (std::is_same_v<T, EmrBox>) {
          if (!IsBoxType(type)) WrongType("box record", type);
        } else if constexpr (std::is_same_v<T, EmrArc>) {
          if (!IsArcType(type)) WrongType("arc record", type);
        } else if constexpr (std::is_same_v<T, EmrPoly>) {
          if (!IsPolyType(type)) WrongType("poly record", type);
          if (IsPoly16(type)) {
            for (const EmfPoint& p : r.Points) {
              if (p.X < std::numeric_limits<int16_t>::min() || p.X > std::numeric_limits<int16_t>::max() ||
                  p.Y < std::numeric_limits<int16_t>::min() || p.Y > std::numeric_limits<int16_t>::max())
                throw std::invalid_argument("a 16-bit poly record cannot hold the point " + std::to_string(p.X) +
                                            ", " + std::to_string(p.Y));
            }
          }
        } else if constexpr (std::is_same_v<T, EmrUnknown>) {
          if (type == EMR_HEADER || type == EMR_EOF) WrongType("raw record", type);
        }
      },
      record);

  const size_t start = Begin(out, type);
  std::visit(
      [&](const auto& r) {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, EmrHeader>) {
          PutRect(out, r.Bounds);
          PutRect(out, r.Frame);
          Put32(out, kEmfSignature);
          Put32(out, kEmfVersion);
          Put32(out, r.Bytes);
          Put32(out, r.Records);
          Put16(out, r.Handles);
          Put16(out, 0);
          Put32(out, 0);  // no description
          Put32(out, 0);
          Put32(out, 0);  // no palette
          PutSize(out, r.Device);
          PutSize(out, r.Millimeters);
          Put32(out, 0);  // no pixel format
          Put32(out, 0);
          Put32(out, 0);  // not OpenGL
          Put32(out, static_cast<uint32_t>(r.Micrometers.cx));
          Put32(out, static_cast<uint32_t>(r.Micrometers.cy));
        } else if constexpr (std::is_same_v<T, EmrEof>) {
          Put32(out, 0);   // no palette entries
          Put32(out, 16);  // where they would start
          Put32(out, kEofSize);
        } else if constexpr (std::is_same_v<T, EmrCreatePen>) {
          Put32(out, r.ihPen);
          Put32(out, r.PenStyle);
          PutPoint(out, {r.Width, 0});
          Put32(out, r.Color);
        } else if constexpr (std::is_same_v<T, EmrCreateBrushIndirect>) {
          Put32(out, r.ihBrush);
          Put32(out, r.BrushStyle);
          Put32(out, r.Color);
          Put32(out, r.Hatch);
        } else if constexpr (std::is_same_v<T, EmrSelectObject> || std::is_same_v<T, EmrDeleteObject>) {
          Put32(out, r.ihObject);
        } else if constexpr (std::is_same_v<T, EmrValue>) {
          Put32(out, r.Value);
        } else if constexpr (std::is_same_v<T, EmrSaveDC>) {
        } else if constexpr (std::is_same_v<T, EmrPointRecord>) {
          PutPoint(out, r.Point);
        } else if constexpr (std::is_same_v<T, EmrBox>) {
          PutRect(out, r.Box);
        } else if constexpr (std::is_same_v<T, EmrRoundRect>) {
          PutRect(out, r.Box);
          PutSize(out, r.Corner);
        } else if constexpr (std::is_same_v<T, EmrArc>) {
          PutRect(out, r.Box);
          PutPoint(out, r.Start);
          PutPoint(out, r.End);
        } else if constexpr (std::is_same_v<T, EmrPoly>) {
          PutRect(out, r.Bounds);
          Put32(out, static_cast<uint32_t>(r.Points.size()));
          for (const EmfPoint& p : r.Points) {
            if (IsPoly16(r.Type)) {
              Put16(out, static_cast<uint16_t>(p.X));
              Put16(out, static_cast<uint16_t>(p.Y));
            } else {
              PutPoint(out, p);
            }
          }
        } else if constexpr (std::is_same_v<T, EmrUnknown>) {
          out.insert(out.end(), r.Payload.begin(), r.Payload.end());
        }
      },
      record);
  Finish(out, start);
}

std::vector<EmfRecord> ReadEmfRecords(std::span<const uint8_t> data) {
  auto fail = [](const std::string& what) -> void { throw EMetafileError("Invalid metafile: " + what); };
  if (data.size() < kHeaderBaseSize) fail("shorter than its header");
  if (ReadU32At(data, 0) != EMR_HEADER) fail("it does not start with a header record");

  std::vector<EmfRecord> records;
  size_t at = 0;
  bool ended = false;
  while (at < data.size()) {
    if (ended) fail("data after the end record at offset " + std::to_string(at));
    if (data.size() - at < 8) fail("truncated record at offset " + std::to_string(at));
    const uint32_t type = ReadU32At(data, at);
    const uint32_t size = ReadU32At(data, at + 4);
    if (size < 8 || size % 4 != 0) fail("record size " + std::to_string(size) + " at offset " + std::to_string(at));
    if (size > data.size() - at) fail("record at offset " + std::to_string(at) + " runs past the end");
    if (type == EMR_HEADER && at != 0) fail("a second header at offset " + std::to_string(at));
    if (type == EMR_HEADER && size < kHeaderBaseSize) fail("header record too short");
    records.push_back(ParseRecord(type, data.subspan(at, size), at));
    if (type == EMR_EOF) ended = true;
    at += size;
  }
  if (!ended) fail("no end record");

  const EmrHeader& h = std::get<EmrHeader>(records.front());
  if (h.Bytes != data.size())
    fail("the header gives " + std::to_string(h.Bytes) + " bytes, the data holds " + std::to_string(data.size()));
  if (h.Records != records.size())
    fail("the header gives " + std::to_string(h.Records) + " records, the data holds " +
         std::to_string(records.size()));
  return records;
}

}  // namespace platform
