#include "pdfwriter/mrvx_ccitt.h"

#include <vector>

#include "pdfwriter/mrvx_types.h"

namespace pdfwriter {
namespace {

struct TableEntry {
  uint8_t Length;
  uint16_t Code;
};

// Terminating codes for runs 0..63 (ITU-T T.4, table 2).
constexpr TableEntry WhiteTerm[64] = {
    {8, 0x35}, {6, 0x07}, {4, 0x07}, {4, 0x08}, {4, 0x0B}, {4, 0x0C}, {4, 0x0E}, {4, 0x0F}, {5, 0x13}, {5, 0x14},
    {5, 0x07}, {5, 0x08}, {6, 0x08}, {6, 0x03}, {6, 0x34}, {6, 0x35}, {6, 0x2A}, {6, 0x2B}, {7, 0x27}, {7, 0x0C},
    {7, 0x08}, {7, 0x17}, {7, 0x03}, {7, 0x04}, {7, 0x28}, {7, 0x2B}, {7, 0x13}, {7, 0x24}, {7, 0x18}, {8, 0x02},
    {8, 0x03}, {8, 0x1A}, {8, 0x1B}, {8, 0x12}, {8, 0x13}, {8, 0x14}, {8, 0x15}, {8, 0x16}, {8, 0x17}, {8, 0x28},
    {8, 0x29}, {8, 0x2A}, {8, 0x2B}, {8, 0x2C}, {8, 0x2D}, {8, 0x04}, {8, 0x05}, {8, 0x0A}, {8, 0x0B}, {8, 0x52},
    {8, 0x53}, {8, 0x54}, {8, 0x55}, {8, 0x24}, {8, 0x25}, {8, 0x58}, {8, 0x59}, {8, 0x5A}, {8, 0x5B}, {8, 0x4A},
    {8, 0x4B}, {8, 0x32}, {8, 0x33}, {8, 0x34}};
constexpr TableEntry BlackTerm[64] = {
    {10, 0x37}, {3, 0x02},  {2, 0x03},  {2, 0x02},  {3, 0x03},  {4, 0x03},  {4, 0x02},  {5, 0x03},  {6, 0x05},
    {6, 0x04},  {7, 0x04},  {7, 0x05},  {7, 0x07},  {8, 0x04},  {8, 0x07},  {9, 0x18},  {10, 0x17}, {10, 0x18},
    {10, 0x08}, {11, 0x67}, {11, 0x68}, {11, 0x6C}, {11, 0x37}, {11, 0x28}, {11, 0x17}, {11, 0x18}, {12, 0xCA},
    {12, 0xCB}, {12, 0xCC}, {12, 0xCD}, {12, 0x68}, {12, 0x69}, {12, 0x6A}, {12, 0x6B}, {12, 0xD2}, {12, 0xD3},
    {12, 0xD4}, {12, 0xD5}, {12, 0xD6}, {12, 0xD7}, {12, 0x6C}, {12, 0x6D}, {12, 0xDA}, {12, 0xDB}, {12, 0x54},
    {12, 0x55}, {12, 0x56}, {12, 0x57}, {12, 0x64}, {12, 0x65}, {12, 0x52}, {12, 0x53}, {12, 0x24}, {12, 0x37},
    {12, 0x38}, {12, 0x27}, {12, 0x28}, {12, 0x58}, {12, 0x59}, {12, 0x2B}, {12, 0x2C}, {12, 0x5A}, {12, 0x66},
    {12, 0x67}};
// Make-up codes for 64, 128, ... 1728.
constexpr TableEntry WhiteMakeup[27] = {
    {5, 0x1B}, {5, 0x12}, {6, 0x17}, {7, 0x37}, {8, 0x36}, {8, 0x37}, {8, 0x64}, {8, 0x65}, {8, 0x68},
    {8, 0x67}, {9, 0xCC}, {9, 0xCD}, {9, 0xD2}, {9, 0xD3}, {9, 0xD4}, {9, 0xD5}, {9, 0xD6}, {9, 0xD7},
    {9, 0xD8}, {9, 0xD9}, {9, 0xDA}, {9, 0xDB}, {9, 0x98}, {9, 0x99}, {9, 0x9A}, {6, 0x18}, {9, 0x9B}};
constexpr TableEntry BlackMakeup[27] = {
    {10, 0x0F}, {12, 0xC8}, {12, 0xC9}, {12, 0x5B}, {12, 0x33}, {12, 0x34}, {12, 0x35}, {13, 0x6C}, {13, 0x6D},
    {13, 0x4A}, {13, 0x4B}, {13, 0x4C}, {13, 0x4D}, {13, 0x72}, {13, 0x73}, {13, 0x74}, {13, 0x75}, {13, 0x76},
    {13, 0x77}, {13, 0x52}, {13, 0x53}, {13, 0x54}, {13, 0x55}, {13, 0x5A}, {13, 0x5B}, {13, 0x64}, {13, 0x65}};
// Extended make-up codes for 1792 .. 2560, the same for both colours (T.4, table 3).
constexpr TableEntry ExtMakeup[13] = {{11, 0x08}, {11, 0x0C}, {11, 0x0D}, {12, 0x12}, {12, 0x13},
                                      {12, 0x14}, {12, 0x15}, {12, 0x16}, {12, 0x17}, {12, 0x1C},
                                      {12, 0x1D}, {12, 0x1E}, {12, 0x1F}};

constexpr TableEntry horizcode = {3, 1};
constexpr TableEntry passcode = {4, 1};
// Vertical mode by b1 - a1 + 3: a1 three to one to the right of b1, under it, one to three left.
constexpr TableEntry vcodes[7] = {{7, 0x03}, {6, 0x03}, {3, 0x03}, {1, 0x01}, {3, 0x02}, {6, 0x02}, {7, 0x02}};

// Pixel x of a row; 0 beyond the width, so that a search never reads past the row.
inline int Pixel(const uint8_t* row, int x, int width) {
  return x < width ? (row[x >> 3] >> (7 - (x & 7))) & 1 : 0;
}

// Length of the run of colour starting at bs, never beyond be.
int FindSpan(const uint8_t* row, int bs, int be, int colour) {
  const uint8_t full = colour ? 0xFF : 0x00;
  int x = bs;
  while (x < be) {
    if ((x & 7) == 0 && x + 8 <= be && row[x >> 3] == full) {
      x += 8;
      continue;
    }
    if (Pixel(row, x, be) != colour) break;
    ++x;
  }
  return x - bs;
}

inline int FindDiff(const uint8_t* row, int bs, int be, int colour) { return bs + FindSpan(row, bs, be, colour); }
inline int FindDiff2(const uint8_t* row, int bs, int be, int colour) {
  return bs < be ? FindDiff(row, bs, be, colour) : be;
}

}  // namespace

void TVCCITTCompression::PutBits(uint32_t Bits, int Length) {
  while (Length > 0) {
    const int take = Length < Bit ? Length : Bit;
    const uint32_t part = (Bits >> (Length - take)) & ((1u << take) - 1);
    Data = static_cast<uint8_t>(Data | part << (Bit - take));
    Bit = static_cast<uint8_t>(Bit - take);
    Length -= take;
    if (Bit == 0) FlushBits();
  }
}

void TVCCITTCompression::FlushBits() {
  FStream->push_back(static_cast<char>(Data));
  Data = 0;
  Bit = 8;
}

void TVCCITTCompression::PutSpan(int Span, bool Black) {
  const TableEntry* term = Black ? BlackTerm : WhiteTerm;
  const TableEntry* makeup = Black ? BlackMakeup : WhiteMakeup;
  while (Span >= 2624) {
    PutBits(ExtMakeup[12].Code, ExtMakeup[12].Length);
    Span -= 2560;
  }
  if (Span >= 64) {
    const int m = Span / 64;  // 1 .. 40
    const TableEntry& e = m <= 27 ? makeup[m - 1] : ExtMakeup[m - 28];
    PutBits(e.Code, e.Length);
    Span -= m * 64;
  }
  PutBits(term[Span].Code, term[Span].Length);
}

void TVCCITTCompression::Encode1DRow(const uint8_t* BP, int Bits) {
  int bs = 0;
  for (;;) {
    int span = FindSpan(BP, bs, Bits, 0);
    PutSpan(span, false);
    bs += span;
    if (bs >= Bits) break;
    span = FindSpan(BP, bs, Bits, 1);
    PutSpan(span, true);
    bs += span;
    if (bs >= Bits) break;
  }
}

void TVCCITTCompression::Encode2DRow(const uint8_t* BP, const uint8_t* RP, int Bits) {
  int a0 = 0;
  int a1 = Pixel(BP, 0, Bits) ? 0 : FindDiff(BP, 0, Bits, 0);
  int b1 = Pixel(RP, 0, Bits) ? 0 : FindDiff(RP, 0, Bits, 0);
  for (;;) {
    const int b2 = FindDiff2(RP, b1, Bits, Pixel(RP, b1, Bits));
    if (b2 >= a1) {
      const int d = b1 - a1;
      if (d >= -3 && d <= 3) {
        PutBits(vcodes[d + 3].Code, vcodes[d + 3].Length);
        a0 = a1;
      } else {
        const int a2 = FindDiff2(BP, a1, Bits, Pixel(BP, a1, Bits));
        PutBits(horizcode.Code, horizcode.Length);
        if (a0 + a1 == 0 || Pixel(BP, a0, Bits) == 0) {
          PutSpan(a1 - a0, false);
          PutSpan(a2 - a1, true);
        } else {
          PutSpan(a1 - a0, true);
          PutSpan(a2 - a1, false);
        }
        a0 = a2;
      }
    } else {
      PutBits(passcode.Code, passcode.Length);
      a0 = b2;
    }
    if (a0 >= Bits) break;
    const int colour = Pixel(BP, a0, Bits);
    a1 = FindDiff(BP, a0, Bits, colour);
    b1 = FindDiff(RP, a0, Bits, colour ^ 1);
    b1 = FindDiff(RP, b1, Bits, colour);
  }
}

void TVCCITTCompression::CompressImage(const platform::Bitmap& AImage, int CompressType, std::string& SaStream) {
  if (AImage.GetPixelFormat() != platform::PixelFormat::pf1bit) throw EMRVXError("Image format must be B/W.");
  if (CompressType == 31) FCT = TCCITT::CCITT31D;
  else if (CompressType == 32) FCT = TCCITT::CCITT32D;
  else if (CompressType == 42) FCT = TCCITT::CCITT42D;
  FStream = &SaStream;
  Execute(AImage);
}

void TVCCITTCompression::Execute(const platform::Bitmap& B) {
  if (!FStream) throw EMRVXError("Output stream is empty.");
  if (B.GetPixelFormat() != platform::PixelFormat::pf1bit) throw EMRVXError("Incorrect image format.");
  if (B.Width() == 0 || B.Height() == 0) return;
  RowPixels = B.Width();
  RowBytes = (RowPixels + 7) / 8;
  std::vector<uint8_t> row(static_cast<size_t>(RowBytes));
  std::vector<uint8_t> refline(static_cast<size_t>(RowBytes), 0);  // an all-white reference row
  Bit = 8;
  Data = 0;
  for (int y = 0; y < B.Height(); ++y) {
    // Our 1-bit bitmaps hold white as 1; the codes take white as 0.
    const uint8_t* src = B.ScanLine(y);
    for (int i = 0; i < RowBytes; ++i) row[static_cast<size_t>(i)] = static_cast<uint8_t>(~src[i]);
    switch (FCT) {
      case TCCITT::CCITT31D:
        Encode1DRow(row.data(), RowPixels);
        break;
      case TCCITT::CCITT32D:
        PutBits(1, 12);  // end of line
        PutBits(0, 1);   // the row is coded two-dimensionally
        Encode2DRow(row.data(), refline.data(), RowPixels);
        refline = row;
        break;
      case TCCITT::CCITT42D:
        Encode2DRow(row.data(), refline.data(), RowPixels);
        refline = row;
        break;
    }
  }
  if (FCT == TCCITT::CCITT42D) {
    PutBits(1, 12);  // end of facsimile block
    PutBits(1, 12);
  }
  if (Bit != 8) FlushBits();
}

}  // namespace pdfwriter
