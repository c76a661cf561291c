#pragma once
// Result codes, media types and the bitmap header that the capture devices and the capture
// control exchange. Frames travel as device-independent bitmaps: rows padded to 4 bytes,
// 24-bit pixels in the order blue, green, red, and with a positive height the bottom row
// first (a negative height means top-down rows).
#include <cstddef>
#include <cstdint>

#include "platform/video/guid.h"

namespace platform::video {

// 32-bit result codes: negative means failure. Texts show them as unsigned hexadecimal, so
// the values are the ones operators and logs have always seen.
using HRESULT = int32_t;
constexpr HRESULT MakeHr(uint32_t v) { return static_cast<HRESULT>(v); }
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
// The device was unplugged or stopped answering.
inline constexpr HRESULT E_DEVICE_NOT_CONNECTED = MakeHr(0x8007048F);
// A format the device or the next stage cannot take.
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHr(0x80040200);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHr(0x80040217);
// Asked while streaming of what only a stopped device can do.
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeHr(0x80040227);
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// Major types.
inline constexpr TGUID kMediaTypeVideo = FourCCGuid(FourCC("vids"));
inline constexpr TGUID kMediaTypeAudio = FourCCGuid(FourCC("auds"));
inline constexpr TGUID kMediaTypeInterleaved = FourCCGuid(FourCC("iavs"));

// Subtypes: the packed YUV and compressed ones under their usual codes, the uncompressed
// RGB layouts under codes of our own.
inline constexpr TGUID kSubtypeYVU9 = FourCCGuid(FourCC("YVU9"));
inline constexpr TGUID kSubtypeY411 = FourCCGuid(FourCC("Y411"));
inline constexpr TGUID kSubtypeY41P = FourCCGuid(FourCC("Y41P"));
inline constexpr TGUID kSubtypeYUY2 = FourCCGuid(FourCC("YUY2"));
inline constexpr TGUID kSubtypeYVYU = FourCCGuid(FourCC("YVYU"));
inline constexpr TGUID kSubtypeUYVY = FourCCGuid(FourCC("UYVY"));
inline constexpr TGUID kSubtypeY211 = FourCCGuid(FourCC("Y211"));
inline constexpr TGUID kSubtypeMJPG = FourCCGuid(FourCC("MJPG"));
inline constexpr TGUID kSubtypeRGB1 = FourCCGuid(FourCC("BI01"));
inline constexpr TGUID kSubtypeRGB4 = FourCCGuid(FourCC("BI04"));
inline constexpr TGUID kSubtypeRGB8 = FourCCGuid(FourCC("BI08"));
inline constexpr TGUID kSubtypeRGB555 = FourCCGuid(FourCC("B555"));
inline constexpr TGUID kSubtypeRGB565 = FourCCGuid(FourCC("B565"));
inline constexpr TGUID kSubtypeRGB24 = FourCCGuid(FourCC("BI24"));
inline constexpr TGUID kSubtypeRGB32 = FourCCGuid(FourCC("BI32"));
inline constexpr TGUID kSubtypeARGB32 = FourCCGuid(FourCC("BA32"));
inline constexpr TGUID kSubtypePCM = FourCCGuid(FourCC("PCM "));

// Format types: how the format block of a media type is laid out. Both video forms carry a
// bitmap header; they differ only in what surrounds it.
inline constexpr TGUID kFormatVideoInfo = FourCCGuid(FourCC("vinf"));
inline constexpr TGUID kFormatVideoInfo2 = FourCCGuid(FourCC("vin2"));
inline constexpr TGUID kFormatWaveFormatEx = FourCCGuid(FourCC("wave"));
inline constexpr TGUID kFormatDvInfo = FourCCGuid(FourCC("dvin"));

// The bitmap header of a video format (the 40-byte header's fields).
struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // > 0: bottom row first
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;  // 0 for uncompressed RGB, else a four-character code
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;

  friend bool operator==(const BitmapInfoHeader&, const BitmapInfoHeader&) = default;
};

// Bytes per row of an uncompressed bitmap of this width and depth (padded to 4 bytes), and
// of the whole image; 0 for a size that does not fit.
size_t DibStride(int32_t width, int bitCount);
size_t DibImageSize(const BitmapInfoHeader& h);

// A media type. Video formats keep their bitmap header and frame time; the rest of a format
// block (source and target rectangles, rates) was never read by anyone here.
struct MediaType {
  TGUID majortype;
  TGUID subtype;
  TGUID formattype;
  int64_t AvgTimePerFrame = 0;  // 100 ns units; 0 = not stated
  BitmapInfoHeader bmiHeader;

  friend bool operator==(const MediaType&, const MediaType&) = default;
  bool HasVideoHeader() const { return formattype == kFormatVideoInfo || formattype == kFormatVideoInfo2; }
};

// One capability of a capture pin: a format with the range of frame times it accepts.
struct VideoStreamCaps {
  MediaType mt;
  int64_t MinFrameInterval = 0;  // 100 ns units
  int64_t MaxFrameInterval = 0;
};

// The uncompressed 24-bit bottom-up form of a frame of this size.
BitmapInfoHeader Rgb24Header(int32_t width, int32_t height);

}  // namespace platform::video
