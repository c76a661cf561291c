#pragma once
// Records of the published binary enhanced-metafile layout: every record starts with its
// type and its size in bytes (a multiple of 4), all fields little-endian. The recorder writes
// them, the PDF writer's translator reads them back. The drawing and object records have a
// typed struct here; a record of any other kind (the recorder's font and text records among
// them, whose fields the translator reads itself) is read as EmrUnknown with its raw payload,
// so that a reader never loses what it does not interpret.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// A metafile that breaks the layout: bad signature, a size that runs past the end, a count
// that does not fit its record, a missing end record.
class EMetafileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Record types (the numbers of the published format).
enum EmrType : uint32_t {
  EMR_HEADER = 1,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_EOF = 14,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETROP2 = 20,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_ARC = 45,
  EMR_CHORD = 46,
  EMR_PIE = 47,
  EMR_LINETO = 54,
  EMR_SETTEXTALIGN = 22,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTW = 84,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
};

// The " EMF" signature of the header record.
constexpr uint32_t kEmfSignature = 0x464D4520u;
constexpr uint32_t kEmfVersion = 0x00010000u;
// Handles with this bit set name stock objects instead of handle-table slots.
constexpr uint32_t kStockObjectFlag = 0x80000000u;

// Pen styles, brush styles and raster operations used by the recorder.
enum : uint32_t { PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
                  PS_INSIDEFRAME = 6 };
enum : uint32_t { BS_SOLID = 0, BS_NULL = 1 };
enum : uint32_t { R2_NOT = 6, R2_COPYPEN = 13 };
enum : uint32_t { TRANSPARENT = 1, OPAQUE = 2 };
enum : uint32_t { ALTERNATE = 1, WINDING = 2 };

struct EmfPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const EmfPoint&, const EmfPoint&) = default;
};

struct EmfSize {
  int32_t cx = 0;
  int32_t cy = 0;
  friend bool operator==(const EmfSize&, const EmfSize&) = default;
};

// Inclusive on all four sides, as the format defines its rectangles.
struct EmfRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  friend bool operator==(const EmfRect&, const EmfRect&) = default;
};

// The header with both extensions (108 bytes, no description, no palette). A reader also
// accepts the shorter 88- and 100-byte forms; the micrometre size is then derived from the
// millimetres.
struct EmrHeader {
  EmfRect Bounds;        // device units, inclusive; (0, 0, -1, -1) when nothing was drawn
  EmfRect Frame;         // 0.01 mm, inclusive
  uint32_t Bytes = 0;    // size of the whole metafile
  uint32_t Records = 0;  // number of records, header and end record included
  uint16_t Handles = 0;  // handle-table entries, slot 0 (reserved) included
  EmfSize Device;        // reference device in pixels
  EmfSize Millimeters;   // reference device in millimetres
  EmfSize Micrometers;   // reference device in micrometres
  friend bool operator==(const EmrHeader&, const EmrHeader&) = default;
};

struct EmrEof {
  friend bool operator==(const EmrEof&, const EmrEof&) = default;
};

struct EmrCreatePen {
  uint32_t ihPen = 0;
  uint32_t PenStyle = PS_SOLID;
  int32_t Width = 0;  // logical units; 0 draws one pixel wide
  uint32_t Color = 0;
  friend bool operator==(const EmrCreatePen&, const EmrCreatePen&) = default;
};

struct EmrCreateBrushIndirect {
  uint32_t ihBrush = 0;
  uint32_t BrushStyle = BS_SOLID;
  uint32_t Color = 0;
  uint32_t Hatch = 0;
  friend bool operator==(const EmrCreateBrushIndirect&, const EmrCreateBrushIndirect&) = default;
};

struct EmrSelectObject {
  uint32_t ihObject = 0;
  friend bool operator==(const EmrSelectObject&, const EmrSelectObject&) = default;
};

struct EmrDeleteObject {
  uint32_t ihObject = 0;
  friend bool operator==(const EmrDeleteObject&, const EmrDeleteObject&) = default;
};

// One 32-bit value: SETBKMODE, SETPOLYFILLMODE, SETROP2, SETTEXTCOLOR, SETBKCOLOR, RESTOREDC.
struct EmrValue {
  uint32_t Type = 0;
  uint32_t Value = 0;
  friend bool operator==(const EmrValue&, const EmrValue&) = default;
};

struct EmrSaveDC {
  friend bool operator==(const EmrSaveDC&, const EmrSaveDC&) = default;
};

// MOVETOEX and LINETO.
struct EmrPointRecord {
  uint32_t Type = 0;
  EmfPoint Point;
  friend bool operator==(const EmrPointRecord&, const EmrPointRecord&) = default;
};

// RECTANGLE, ELLIPSE and INTERSECTCLIPRECT: one box.
struct EmrBox {
  uint32_t Type = 0;
  EmfRect Box;
  friend bool operator==(const EmrBox&, const EmrBox&) = default;
};

struct EmrRoundRect {
  EmfRect Box;
  EmfSize Corner;
  friend bool operator==(const EmrRoundRect&, const EmrRoundRect&) = default;
};

// ARC, CHORD and PIE.
struct EmrArc {
  uint32_t Type = 0;
  EmfRect Box;
  EmfPoint Start;
  EmfPoint End;
  friend bool operator==(const EmrArc&, const EmrArc&) = default;
};

// POLYGON, POLYLINE (32-bit points) and POLYGON16, POLYLINE16 (16-bit points). The points
// are held as 32-bit values either way; Type says how they are stored.
struct EmrPoly {
  uint32_t Type = 0;
  EmfRect Bounds;
  std::vector<EmfPoint> Points;
  friend bool operator==(const EmrPoly&, const EmrPoly&) = default;
};

// Any record kind without a struct above: its type and the bytes after the 8-byte prefix.
struct EmrUnknown {
  uint32_t Type = 0;
  std::vector<uint8_t> Payload;
  friend bool operator==(const EmrUnknown&, const EmrUnknown&) = default;
};

using EmfRecord = std::variant<EmrHeader, EmrEof, EmrCreatePen, EmrCreateBrushIndirect, EmrSelectObject,
                               EmrDeleteObject, EmrValue, EmrSaveDC, EmrPointRecord, EmrBox, EmrRoundRect,
                               EmrArc, EmrPoly, EmrUnknown>;

// The record type number of a record.
uint32_t RecordType(const EmfRecord& record);

// Appends one record in the published layout. Throws std::invalid_argument for a record
// whose Type does not belong to its struct (a POLYGON16 point outside 16 bits included).
void WriteEmfRecord(std::vector<uint8_t>& out, const EmfRecord& record);

// Reads a whole metafile: the header first, the end record last, every record inside the
// data, the header's byte and record counts matching. Throws EMetafileError otherwise.
std::vector<EmfRecord> ReadEmfRecords(std::span<const uint8_t> data);

}  // namespace platform
