#include "platform/image/png_codec.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/image/codec_limits.h"
#include "platform/image/image_error.h"
#include "platform/image/image_file.h"

// libpng reports errors by longjmp. Every libpng call that can fail runs inside one of the
// small functions marked "setjmp frame" below: their locals are all trivially destructible
// and none is read after a jump, so the jump skips no destructor. The png structs, the
// pixel memory and the row tables are owned by the C++ callers around them, which release
// them normally whichever way the frame returns. Our own callbacks never let a C++
// exception pass through libpng's C frames.

namespace platform {

namespace {

using Kind = EImageError::Kind;

// What the callbacks share with the C++ side; lives in the caller's frame.
struct PngContext {
  char message[200] = {};
  bool truncated = false;
  bool outOfMemory = false;
  // Reading.
  const uint8_t* in = nullptr;
  size_t inSize = 0;
  size_t inPos = 0;
  // Writing.
  std::vector<uint8_t>* out = nullptr;
};

PngContext* ContextOf(png_structp png) { return static_cast<PngContext*>(png_get_error_ptr(png)); }

void OnPngError(png_structp png, png_const_charp msg) {
  PngContext* ctx = ContextOf(png);
  if (ctx->message[0] == '\0') std::snprintf(ctx->message, sizeof ctx->message, "%s", msg ? msg : "libpng error");
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void OnPngRead(png_structp png, png_bytep dest, size_t length) {
  PngContext* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  if (ctx->inSize - ctx->inPos < length) {
    ctx->truncated = true;
    png_error(png, "unexpected end of file");
  }
  std::memcpy(dest, ctx->in + ctx->inPos, length);
  ctx->inPos += length;
}

void OnPngWrite(png_structp png, png_bytep src, size_t length) {
  PngContext* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  try {
    ctx->out->insert(ctx->out->end(), src, src + length);
  } catch (...) {
    ctx->outOfMemory = true;
  }
  if (ctx->outOfMemory) png_error(png, "out of memory");
}

void OnPngFlush(png_structp) {}

class PngReadStruct {
 public:
  explicit PngReadStruct(PngContext& ctx) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, OnPngError, OnPngWarning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) throw std::bad_alloc();
  }
  ~PngReadStruct() { png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr); }
  PngReadStruct(const PngReadStruct&) = delete;
  PngReadStruct& operator=(const PngReadStruct&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

class PngWriteStruct {
 public:
  explicit PngWriteStruct(PngContext& ctx) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, OnPngError, OnPngWarning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) throw std::bad_alloc();
  }
  ~PngWriteStruct() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
  PngWriteStruct(const PngWriteStruct&) = delete;
  PngWriteStruct& operator=(const PngWriteStruct&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  size_t rowBytes = 0;
  int channels = 0;
  int bitDepth = 0;
};

// setjmp frame: reads the chunks up to the image data and sets the transformations that
// turn any PNG into 8-bit blue, green, red.
bool ReadPngHeader(png_structp png, png_infop info, PngHeader* header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, static_cast<png_uint_32>(kMaxImageSide), static_cast<png_uint_32>(kMaxImageSide));
  // Text and colour-profile chunks we do not use: no more memory for one than a large profile.
  png_set_chunk_malloc_max(png, 8u << 20);
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (bitDepth == 16) png_set_strip_16(png);
  // Also drops the alpha that a palette's transparency chunk brings in.
  png_set_strip_alpha(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  header->rowBytes = png_get_rowbytes(png, info);
  header->channels = png_get_channels(png, info);
  header->bitDepth = png_get_bit_depth(png, info);
  return true;
}

// setjmp frame: decodes every row into the given row table and reads to the end chunk.
bool ReadPngRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

struct PngWriteJob {
  png_uint_32 width;
  png_uint_32 height;
  int bitDepth;
  int colorType;
  bool bgr;
  bool dropFourthByte;
  png_bytepp rows;
  bool runsOnly;
};

// setjmp frame: writes a whole image.
bool WritePngImage(png_structp png, png_infop info, const PngWriteJob* job) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, job->width, job->height, job->bitDepth, job->colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 6);
  if (job->runsOnly) {
    // One filter for every row: choosing per row costs more than it saves on noisy pixels.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_strategy(png, Z_RLE);
  }
  png_write_info(png, info);
  if (job->bgr) png_set_bgr(png);
  if (job->dropFourthByte) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_image(png, job->rows);
  png_write_end(png, info);
  return true;
}

[[noreturn]] void ThrowPngFailure(const PngContext& ctx, const char* fallback) {
  if (ctx.outOfMemory) throw std::bad_alloc();
  if (ctx.truncated) throw EImageError(Kind::Truncated, "PNG data ends early");
  throw EImageError(Kind::Corrupt, std::string("PNG: ") + (ctx.message[0] ? ctx.message : fallback));
}

}  // namespace

Bitmap DecodePng(std::span<const uint8_t> data) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() < 8) {
    if (data.empty() || std::memcmp(data.data(), kSignature, data.size()) == 0) {
      throw EImageError(Kind::Truncated, "PNG data ends early");
    }
    throw EImageError(Kind::Corrupt, "not a PNG file");
  }
  if (std::memcmp(data.data(), kSignature, 8) != 0) throw EImageError(Kind::Corrupt, "not a PNG file");
  // Every chunk up to the end chunk must lie inside the data: libpng reserves (and clears) a
  // chunk's stated length before it finds that the bytes are not there, so a few bytes that
  // state a gigabyte would cost one. (A chunk without a valid name is left to libpng, which
  // refuses it before reading anything of it.)
  const auto letter = [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  for (size_t pos = 8; pos + 8 <= data.size();) {
    if (!std::all_of(data.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                     data.begin() + static_cast<std::ptrdiff_t>(pos + 8), letter))
      break;
    const uint32_t length = static_cast<uint32_t>(data[pos]) << 24 | static_cast<uint32_t>(data[pos + 1]) << 16 |
                            static_cast<uint32_t>(data[pos + 2]) << 8 | data[pos + 3];
    if (length > data.size() - pos - 8 || data.size() - pos - 8 - length < 4)
      throw EImageError(Kind::Truncated, "PNG chunk runs past the end of the data");
    if (std::memcmp(data.data() + pos + 4, "IEND", 4) == 0) break;
    pos += 12 + size_t{length};
  }
  PngContext ctx;
  ctx.in = data.data();
  ctx.inSize = data.size();
  PngReadStruct reader(ctx);
  png_set_read_fn(reader.png(), &ctx, OnPngRead);

  PngHeader header;
  if (!ReadPngHeader(reader.png(), reader.info(), &header)) ThrowPngFailure(ctx, "bad header");
  CheckDecodedSize(header.width, header.height);
  if (header.channels != 3 || header.bitDepth != 8 || header.rowBytes != size_t{3} * header.width) {
    throw EImageError(Kind::Unsupported, "PNG layout cannot be read as 24-bit");
  }
  // Deflate expands by at most about 1:1032, so a header whose pixels could not fit in the
  // file is refused before the memory for them is taken.
  const uint64_t rawBytes = (uint64_t{header.rowBytes} + 1) * header.height;
  if (rawBytes / 1100 > data.size()) throw EImageError(Kind::Truncated, "PNG data too short for its size");

  Bitmap bmp(static_cast<int>(header.width), static_cast<int>(header.height), PixelFormat::pf24bit);
  std::vector<png_bytep> rows(header.height);
  for (png_uint_32 y = 0; y < header.height; ++y) rows[y] = bmp.ScanLine(static_cast<int>(y));
  if (!ReadPngRows(reader.png(), rows.data())) ThrowPngFailure(ctx, "bad image data");
  return bmp;
}

std::vector<uint8_t> EncodePng(const Bitmap& bmp, PngCompression compression) {
  if (bmp.Empty()) throw EImageError(Kind::Unsupported, "an empty bitmap cannot be saved as PNG");
  if (bmp.Width() > kMaxImageSide || bmp.Height() > kMaxImageSide) {
    throw EImageError(Kind::Unsupported, "bitmap too large for PNG");
  }
  PngWriteJob job{};
  job.width = static_cast<png_uint_32>(bmp.Width());
  job.height = static_cast<png_uint_32>(bmp.Height());
  switch (bmp.GetPixelFormat()) {
    case PixelFormat::pf1bit: job.bitDepth = 1; job.colorType = PNG_COLOR_TYPE_GRAY; break;
    case PixelFormat::pf8bit: job.bitDepth = 8; job.colorType = PNG_COLOR_TYPE_GRAY; break;
    case PixelFormat::pf24bit: job.bitDepth = 8; job.colorType = PNG_COLOR_TYPE_RGB; job.bgr = true; break;
    case PixelFormat::pf32bit:
      job.bitDepth = 8;
      job.colorType = PNG_COLOR_TYPE_RGB;
      job.bgr = true;
      job.dropFourthByte = true;
      break;
  }
  // libpng copies each row before it transforms it, so the pixels are only read.
  std::vector<png_bytep> rows(job.height);
  for (png_uint_32 y = 0; y < job.height; ++y) {
    rows[y] = const_cast<png_bytep>(bmp.ScanLine(static_cast<int>(y)));
  }
  job.rows = rows.data();
  job.runsOnly = compression == PngCompression::Fast;

  std::vector<uint8_t> out;
  out.reserve(bmp.RowBytes() * job.height / 2 + 1024);
  PngContext ctx;
  ctx.out = &out;
  PngWriteStruct writer(ctx);
  png_set_write_fn(writer.png(), &ctx, OnPngWrite, OnPngFlush);
  if (!WritePngImage(writer.png(), writer.info(), &job)) ThrowPngFailure(ctx, "cannot encode");
  return out;
}

Bitmap LoadPng(const std::string& fileName) { return LoadImageFile(fileName, DecodePng); }

void SavePng(const Bitmap& bmp, const std::string& fileName) {
  SaveImageFile(fileName, [&] { return EncodePng(bmp); });
}

}  // namespace platform
