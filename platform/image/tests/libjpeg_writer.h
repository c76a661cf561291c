#pragma once
// JPEG files written by libjpeg itself, for the forms our encoder does not make (progressive,
// restart intervals, arithmetic coding, no chroma subsampling): Setup changes the compressor's
// parameters after the defaults and the quality are set.
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/image/bitmap.h"

namespace platform::testing {

inline std::vector<uint8_t> LibJpegFile(const Bitmap& bmp, const std::function<void(jpeg_compress_struct&)>& Setup,
                                        int quality = 75) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(bmp.Width());
  c.image_height = static_cast<JDIMENSION>(bmp.Height());
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (Setup) Setup(c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(bmp.ScanLine(static_cast<int>(c.next_scanline)));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> out(mem, mem + size);
  std::free(mem);
  return out;
}

}  // namespace platform::testing
