#include "platform/image/jpeg_codec.h"

// clang-format off
#include <cstdio>   // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

#include "platform/image/codec_limits.h"
#include "platform/image/image_error.h"
#include "platform/image/image_file.h"

// libjpeg reports fatal errors through error_exit, which must not return; ours longjmps.
// As with libpng, every libjpeg call that can fail runs inside a small "setjmp frame"
// function whose locals are trivially destructible, and the libjpeg structs, the output
// vector and the pixels belong to C++ objects outside it that clean up normally.

namespace platform {

namespace {

using Kind = EImageError::Kind;

struct JpegErrors {
  jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is a pointer to us
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int warnings;
  bool truncated;
  bool outOfMemory;
};

JpegErrors* ErrorsOf(j_common_ptr cinfo) { return reinterpret_cast<JpegErrors*>(cinfo->err); }

void OnJpegErrorExit(j_common_ptr cinfo) {
  JpegErrors* err = ErrorsOf(cinfo);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OnJpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  JpegErrors* err = ErrorsOf(cinfo);
  if (err->warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->message);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

void OnJpegOutput(j_common_ptr) {}

void InitErrors(JpegErrors& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegErrorExit;
  err.pub.emit_message = OnJpegMessage;
  err.pub.output_message = OnJpegOutput;
  err.message[0] = '\0';
  err.warnings = 0;
  err.truncated = false;
  err.outOfMemory = false;
}

// A destination that collects the compressed bytes in a vector.
struct VectorDestination {
  jpeg_destination_mgr pub;  // first, as above
  std::vector<uint8_t>* out;
  std::array<JOCTET, 16384> buffer;
};

bool Append(j_compress_ptr cinfo, size_t count) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  try {
    dest->out->insert(dest->out->end(), dest->buffer.data(), dest->buffer.data() + count);
    return true;
  } catch (...) {
    ErrorsOf(reinterpret_cast<j_common_ptr>(cinfo))->outOfMemory = true;
    return false;
  }
}

void OnInitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer.data();
  dest->pub.free_in_buffer = dest->buffer.size();
}

boolean OnEmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!Append(cinfo, dest->buffer.size())) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  OnInitDestination(cinfo);
  return TRUE;
}

void OnTermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!Append(cinfo, dest->buffer.size() - dest->pub.free_in_buffer)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

// Owns a compress or decompress struct; destroying one that was never created is harmless
// because the struct starts zeroed.
class JpegCompress {
 public:
  JpegCompress() {
    std::memset(&cinfo, 0, sizeof cinfo);
    InitErrors(errors);
    cinfo.err = &errors.pub;
  }
  ~JpegCompress() { jpeg_destroy_compress(&cinfo); }
  JpegCompress(const JpegCompress&) = delete;
  JpegCompress& operator=(const JpegCompress&) = delete;
  jpeg_compress_struct cinfo;
  JpegErrors errors;
};

class JpegDecompress {
 public:
  JpegDecompress() {
    std::memset(&cinfo, 0, sizeof cinfo);
    InitErrors(errors);
    cinfo.err = &errors.pub;
  }
  ~JpegDecompress() { jpeg_destroy_decompress(&cinfo); }
  JpegDecompress(const JpegDecompress&) = delete;
  JpegDecompress& operator=(const JpegDecompress&) = delete;
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
};

struct JpegWriteJob {
  JDIMENSION width;
  JDIMENSION height;
  int components;
  J_COLOR_SPACE colorSpace;
  int quality;
  bool oneBit;              // rows are 1-bit and are expanded into scratch first
  unsigned char* scratch;   // width bytes
  const uint8_t* const* rows;
};

// setjmp frame: compresses a whole image into the destination.
bool CompressJpeg(JpegCompress* c, VectorDestination* dest, const JpegWriteJob* job) {
  if (setjmp(c->errors.jump)) return false;
  jpeg_create_compress(&c->cinfo);
  dest->pub.init_destination = OnInitDestination;
  dest->pub.empty_output_buffer = OnEmptyOutputBuffer;
  dest->pub.term_destination = OnTermDestination;
  c->cinfo.dest = &dest->pub;
  c->cinfo.image_width = job->width;
  c->cinfo.image_height = job->height;
  c->cinfo.input_components = job->components;
  c->cinfo.in_color_space = job->colorSpace;
  jpeg_set_defaults(&c->cinfo);
  jpeg_set_quality(&c->cinfo, job->quality, TRUE);
  jpeg_start_compress(&c->cinfo, TRUE);
  while (c->cinfo.next_scanline < c->cinfo.image_height) {
    const uint8_t* src = job->rows[c->cinfo.next_scanline];
    JSAMPROW row = const_cast<JSAMPROW>(src);  // libjpeg only reads input rows
    if (job->oneBit) {
      for (JDIMENSION x = 0; x < job->width; ++x) {
        job->scratch[x] = ((src[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
      }
      row = job->scratch;
    }
    jpeg_write_scanlines(&c->cinfo, &row, 1);
  }
  jpeg_finish_compress(&c->cinfo);
  return true;
}

struct JpegHeader {
  JDIMENSION width;
  JDIMENSION height;
  bool cmyk;
  bool arithmetic;
};

// setjmp frame: reads the markers up to the first scan.
bool ReadJpegHeader(JpegDecompress* d, std::span<const uint8_t> data, JpegHeader* header) {
  if (setjmp(d->errors.jump)) return false;
  jpeg_create_decompress(&d->cinfo);
  jpeg_mem_src(&d->cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&d->cinfo, TRUE);
  header->cmyk = d->cinfo.jpeg_color_space == JCS_CMYK || d->cinfo.jpeg_color_space == JCS_YCCK;
  header->arithmetic = d->cinfo.arith_code;
  d->cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_calc_output_dimensions(&d->cinfo);
  header->width = d->cinfo.output_width;
  header->height = d->cinfo.output_height;
  return true;
}

// What libjpeg may take for itself besides the pixels: a progressive picture keeps all its
// coefficients (two bytes per sample), which for the largest picture we read is 384 MiB.
constexpr long kMaxJpegWorkMemory = 512L << 20;

// setjmp frame: starts the decompression. A file of several scans (progressive, or sequential
// with one scan per component) is read in buffered mode, one row of blocks at a time, so that
// a file whose data ends early is stopped there: libjpeg alone would go on through every
// remaining block of the claimed picture before it says anything.
bool StartJpeg(JpegDecompress* d) {
  if (setjmp(d->errors.jump)) return false;
  d->cinfo.mem->max_memory_to_use = kMaxJpegWorkMemory;
  const bool scans = jpeg_has_multiple_scans(&d->cinfo);
  d->cinfo.buffered_image = scans ? TRUE : FALSE;
  jpeg_start_decompress(&d->cinfo);
  if (d->cinfo.output_components != 3) ERREXIT(&d->cinfo, JERR_CONVERSION_NOTIMPL);
  if (scans) {
    for (;;) {
      const int rc = jpeg_consume_input(&d->cinfo);
      // Any warning (the data ends, a marker where data should be) ends the file.
      if (d->errors.warnings > 0 || rc == JPEG_SUSPENDED) return false;
      if (rc == JPEG_REACHED_EOI) break;
    }
    jpeg_start_output(&d->cinfo, d->cinfo.input_scan_number);
  }
  return d->errors.warnings == 0;
}

// setjmp frame: decodes the next Count rows into the row table. Stops at the first warning:
// a single-scan file that ends early would otherwise be made up into gray rows to the end.
bool ReadJpegRows(JpegDecompress* d, uint8_t* const* rows, JDIMENSION count) {
  if (setjmp(d->errors.jump)) return false;
  for (JDIMENSION i = 0; i < count; ++i) {
    JSAMPROW row = rows[i];
    if (jpeg_read_scanlines(&d->cinfo, &row, 1) != 1) ERREXIT(&d->cinfo, JERR_BAD_STATE);
    if (d->errors.warnings > 0) return false;
  }
  return true;
}

// setjmp frame: the end of the decompression (and of the buffered output pass).
bool FinishJpeg(JpegDecompress* d) {
  if (setjmp(d->errors.jump)) return false;
  if (d->cinfo.buffered_image) jpeg_finish_output(&d->cinfo);
  jpeg_finish_decompress(&d->cinfo);
  return d->errors.warnings == 0;
}

[[noreturn]] void ThrowJpegFailure(const JpegErrors& err) {
  if (err.outOfMemory) throw std::bad_alloc();
  if (err.truncated) throw EImageError(Kind::Truncated, "JPEG data ends early");
  throw EImageError(Kind::Corrupt, std::string("JPEG: ") + (err.message[0] ? err.message : "bad data"));
}

}  // namespace

Bitmap DecodeJpeg(std::span<const uint8_t> data) {
  if (data.size() < 3) {
    if (data.empty() || data[0] == 0xFF) throw EImageError(Kind::Truncated, "JPEG data ends early");
    throw EImageError(Kind::Corrupt, "not a JPEG file");
  }
  if (data[0] != 0xFF || data[1] != 0xD8) throw EImageError(Kind::Corrupt, "not a JPEG file");
  JpegDecompress d;
  JpegHeader header{};
  if (!ReadJpegHeader(&d, data, &header)) ThrowJpegFailure(d.errors);
  if (header.cmyk) throw EImageError(Kind::Unsupported, "CMYK JPEG");
  // libjpeg's arithmetic decoder reads on past the end of its data without a word, so a few
  // hundred bytes would decode into every row they claim; no writer of ours makes such files.
  if (header.arithmetic) throw EImageError(Kind::Unsupported, "arithmetic-coded JPEG");
  CheckDecodedSize(header.width, header.height);
  if (!StartJpeg(&d)) ThrowJpegFailure(d.errors);
  // The pixels grow with the rows that really decode (doubling), so that a few bytes that
  // claim a large picture cost only the rows they hold before they end.
  const int width = static_cast<int>(header.width);
  Bitmap bmp(width, static_cast<int>(std::min<JDIMENSION>(header.height, 256)), PixelFormat::pf24bit);
  std::vector<uint8_t*> rows;
  while (d.cinfo.output_scanline < header.height) {
    const JDIMENSION first = d.cinfo.output_scanline;
    if (first >= static_cast<JDIMENSION>(bmp.Height())) {
      bmp.SetSize(width, static_cast<int>(std::min<uint64_t>(header.height, uint64_t{first} * 2)));
    }
    const JDIMENSION count = std::min<JDIMENSION>(static_cast<JDIMENSION>(bmp.Height()) - first, 64);
    rows.resize(count);
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = bmp.ScanLine(static_cast<int>(first + i));
    if (!ReadJpegRows(&d, rows.data(), count)) ThrowJpegFailure(d.errors);
  }
  if (!FinishJpeg(&d)) ThrowJpegFailure(d.errors);
  return bmp;
}

std::vector<uint8_t> EncodeJpeg(const Bitmap& bmp, int quality) {
  if (bmp.Empty()) throw EImageError(Kind::Unsupported, "an empty bitmap cannot be saved as JPEG");
  if (bmp.Width() > JPEG_MAX_DIMENSION || bmp.Height() > JPEG_MAX_DIMENSION) {
    throw EImageError(Kind::Unsupported, "bitmap too large for JPEG");
  }
  JpegWriteJob job{};
  job.width = static_cast<JDIMENSION>(bmp.Width());
  job.height = static_cast<JDIMENSION>(bmp.Height());
  job.quality = std::clamp(quality, 1, 100);
  switch (bmp.GetPixelFormat()) {
    case PixelFormat::pf1bit: job.components = 1; job.colorSpace = JCS_GRAYSCALE; job.oneBit = true; break;
    case PixelFormat::pf8bit: job.components = 1; job.colorSpace = JCS_GRAYSCALE; break;
    case PixelFormat::pf24bit: job.components = 3; job.colorSpace = JCS_EXT_BGR; break;
    case PixelFormat::pf32bit: job.components = 4; job.colorSpace = JCS_EXT_BGRX; break;
  }
  std::vector<unsigned char> scratch(job.oneBit ? job.width : 0);
  job.scratch = scratch.data();
  std::vector<const uint8_t*> rows(job.height);
  for (JDIMENSION y = 0; y < job.height; ++y) rows[y] = bmp.ScanLine(static_cast<int>(y));
  job.rows = rows.data();

  std::vector<uint8_t> out;
  auto dest = std::make_unique<VectorDestination>();
  dest->out = &out;
  JpegCompress c;
  if (!CompressJpeg(&c, dest.get(), &job)) ThrowJpegFailure(c.errors);
  return out;
}

Bitmap LoadJpeg(const std::string& fileName) { return LoadImageFile(fileName, DecodeJpeg); }

void SaveJpeg(const Bitmap& bmp, const std::string& fileName, int quality) {
  SaveImageFile(fileName, [&] { return EncodeJpeg(bmp, quality); });
}

}  // namespace platform
