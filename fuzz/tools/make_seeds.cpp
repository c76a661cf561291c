// Writes the seed files that come from our own writers and from the libraries we call: JPEG
// (our encoder; libjpeg for progressive, restart-interval and arithmetic-coded files), TIFF
// (libtiff), TrueType subsets (our subsetter over the installed fonts), compressed BLOB
// streams, B-tree index pages, and metafiles (our recorder, and records in the published
// layout that the recorder does not write). Run once; the files are committed:
//
//   cmake --build build/test --target fuzz_make_seeds && build/test/fuzz/fuzz_make_seeds fuzz/corpus
#include <tiffio.h>

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

#include "dbengine/storage/orv_btree_page_index.h"
#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/tests/page_store_double.h"
#include "pdfwriter/mrvx_fonts.h"
#include "platform/fonts/font_provider.h"
#include "platform/image/bitmap.h"
#include "platform/image/jpeg_codec.h"
#include "platform/metafile/emf_records.h"
#include "platform/metafile/metafile.h"
#include "platform/metafile/metafile_canvas.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path g_out;

void Put(const std::string& target, const std::string& name, const Bytes& data) {
  fs::create_directories(g_out / target);
  std::ofstream(g_out / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

platform::Bitmap Pattern(int w, int h, platform::PixelFormat pf = platform::PixelFormat::pf24bit) {
  platform::Bitmap b(w, h, pf);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (size_t i = 0; i < b.RowBytes(); ++i) row[i] = static_cast<uint8_t>(i * 37 + static_cast<size_t>(y) * 91);
  }
  return b;
}

// ---- JPEG ------------------------------------------------------------------------------------

Bytes LibJpeg(int w, int h, const std::function<void(jpeg_compress_struct&)>& setup) {
  const platform::Bitmap bmp = Pattern(w, h);
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 60, TRUE);
  setup(c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(bmp.ScanLine(static_cast<int>(c.next_scanline)));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(mem, mem + size);
  std::free(mem);
  return out;
}

void MakeJpeg() {
  Put("jpeg", "colour.jpg", platform::EncodeJpeg(Pattern(16, 16), 75));
  Put("jpeg", "gray.jpg", platform::EncodeJpeg(Pattern(13, 7, platform::PixelFormat::pf8bit), 50));
  Put("jpeg", "odd_size.jpg", platform::EncodeJpeg(Pattern(21, 3), 90));
  Put("jpeg", "progressive.jpg", LibJpeg(24, 16, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); }));
  Put("jpeg", "restarts.jpg", LibJpeg(32, 16, [](jpeg_compress_struct& c) { c.restart_interval = 1; }));
  Put("jpeg", "arithmetic.jpg", LibJpeg(16, 8, [](jpeg_compress_struct& c) { c.arith_code = TRUE; }));
  Put("jpeg", "no_subsampling.jpg", LibJpeg(16, 16, [](jpeg_compress_struct& c) {
        for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
      }));
}

// ---- TIFF ------------------------------------------------------------------------------------

struct TiffDir {
  uint32_t w, h;
  uint16_t spp, bps, photometric, compression;
  uint32_t tile = 0;  // tile side, 0: strips
};

void MakeTiff(const std::string& name, std::initializer_list<TiffDir> dirs) {
  const fs::path tmp = fs::temp_directory_path() / ("quirvel-seed-" + name);
  TIFF* t = TIFFOpen(tmp.c_str(), "w");
  for (const TiffDir& d : dirs) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, d.w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, d.h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, d.spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, d.bps);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, d.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, d.compression);
    if (d.photometric == PHOTOMETRIC_PALETTE) {
      std::vector<uint16_t> r(1u << d.bps), g(r.size()), b(r.size());
      for (size_t i = 0; i < r.size(); ++i) {
        r[i] = static_cast<uint16_t>(i * 4099);
        g[i] = static_cast<uint16_t>(65535 - i * 3001);
        b[i] = static_cast<uint16_t>(i * 17);
      }
      TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    if (d.compression == COMPRESSION_LZW || d.compression == COMPRESSION_ADOBE_DEFLATE)
      TIFFSetField(t, TIFFTAG_PREDICTOR, d.bps == 8 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);
    const size_t row_bytes = (static_cast<size_t>(d.w) * d.spp * d.bps + 7) / 8;
    if (d.tile) {
      TIFFSetField(t, TIFFTAG_TILEWIDTH, d.tile);
      TIFFSetField(t, TIFFTAG_TILELENGTH, d.tile);
      Bytes tile(TIFFTileSize(t));
      for (uint32_t y = 0; y < d.h; y += d.tile)
        for (uint32_t x = 0; x < d.w; x += d.tile) {
          for (size_t i = 0; i < tile.size(); ++i) tile[i] = static_cast<uint8_t>(i * 7 + x + y);
          TIFFWriteTile(t, tile.data(), x, y, 0, 0);
        }
    } else {
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4u);
      Bytes row(row_bytes);
      for (uint32_t y = 0; y < d.h; ++y) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 29 + y * 53);
        TIFFWriteScanline(t, row.data(), y, 0);
      }
    }
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
  std::ifstream f(tmp, std::ios::binary);
  Put("tiff", name, Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>()));
  fs::remove(tmp);
}

void MakeTiffs() {
  MakeTiff("rgb.tif", {{8, 4, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE}});
  MakeTiff("gray_deflate.tif", {{10, 6, 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE}});
  MakeTiff("rgb_lzw.tif", {{9, 5, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_LZW}});
  MakeTiff("mono_packbits.tif", {{20, 6, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_PACKBITS}});
  MakeTiff("mono_g4.tif", {{32, 8, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4}});
  MakeTiff("mono_g3.tif", {{24, 4, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3}});
  MakeTiff("palette4.tif", {{7, 3, 1, 4, PHOTOMETRIC_PALETTE, COMPRESSION_NONE}});
  MakeTiff("two_pages.tif", {{4, 3, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE},
                             {3, 5, 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW}});
  MakeTiff("tiled.tif", {{32, 20, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, 16}});
}

// ---- TrueType subsets --------------------------------------------------------------------------

void MakeFonts() {
  pdfwriter::TTrueTypeTables tables;
  const std::vector<uint16_t> narrow = {'A', 'g', ' ', '1', 0xB5, 0xE9};
  struct Face {
    const char* family;
    platform::TFontStyles style;
    const char* name;
  };
  for (const Face& f : {Face{"Arial", 0, "sans"}, Face{"Times New Roman", platform::fsBold, "serif_bold"},
                        Face{"DejaVu Sans", 0, "dejavu"}}) {
    const platform::TFontRef ref = platform::FontProvider::Default().FindOrFallback(f.family, f.style);
    if (!ref) continue;
    // The simple-font program: a few KB. (The composite one keeps every glyph slot of the
    // face, tens of KB: too large for a seed; the target builds it from every input anyway.)
    std::string program;
    tables.GetFontEnsemble(*ref.Face, program, narrow);
    Put("truetype", std::string(f.name) + "_simple.ttf", Bytes(program.begin(), program.end()));
  }
}

// ---- compressed BLOB streams -------------------------------------------------------------------

void MakeBlob(const std::string& name, orv::TORVCompressionAlgorithm algorithm, uint8_t mode, int32_t block_size,
              int32_t bytes, uint8_t choice) {
  orv::TORVMemoryStream under;
  under.Write("HEAD", 4);
  orv::TORVBLOBDescriptor d;
  d.BlockSize = block_size;
  d.StartPosition = 4;
  d.CompressionAlgorithm = algorithm;
  d.CompressionMode = mode;
  Bytes data(static_cast<size_t>(bytes));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>("dot area 12.5%\r\n"[i % 16]);
  {
    orv::TORVCompressedBLOBStream blob(&under, d, true, false);
    blob.Write(data.data(), bytes);
    d = blob.BLOBDescriptor();
  }
  Bytes out(orv::TORVBLOBDescriptor::StoredSize);
  d.WriteTo(out.data());
  out.push_back(choice);
  Bytes stream(static_cast<size_t>(under.GetSize()));
  under.Seek(0, orv::soBeginning);
  under.Read(stream.data(), static_cast<int32_t>(stream.size()));
  out.insert(out.end(), stream.begin(), stream.end());
  Put("blob_stream", name, out);
}

void MakeBlobs() {
  MakeBlob("zlib_three_blocks.bin", orv::acaZLIB, 1, 1000, 2500, 0);
  MakeBlob("zlib_repair_truncate.bin", orv::acaZLIB, 9, 700, 1800, 3);
  MakeBlob("bzip2_two_blocks.bin", orv::acaBZIP, 1, 1500, 2000, 2);
  MakeBlob("plain.bin", orv::acaNone, 0, 0, 300, 0);
}

// ---- B-tree index pages ------------------------------------------------------------------------

void MakeTree(const std::string& name, int32_t records, uint8_t choice, int32_t probe) {
  orv::testing::PageStoreDouble pages(256, 0);
  orv::TORVBTreeRecordPageIndex index(&pages);
  index.FMaxRecordsOnPage = 50;
  index.CreateIndex(1);
  for (int32_t i = 0; i < records; ++i) index.AddRecord(1, 1000 + i * 7, 1 + i % 3);
  pages.ApplyChanges(1);
  Bytes out = {choice};
  Put32(out, static_cast<uint32_t>(probe));
  const int32_t last = pages.store.empty() ? 0 : pages.store.rbegin()->first;
  for (int32_t no = 0; no <= last; ++no) {
    auto it = pages.store.find(no);
    const Bytes page = it == pages.store.end() ? Bytes(256, 0) : it->second;
    out.insert(out.end(), page.begin(), page.end());
  }
  Put("btree_pages", name, out);
}

void MakeTrees() {
  MakeTree("one_leaf.bin", 12, 10, 1000 + 5 * 7);
  MakeTree("two_levels.bin", 120, 20, 1000 + 60 * 7);
  MakeTree("three_levels.bin", 900, 0x85, 1003);
}

// ---- metafiles ---------------------------------------------------------------------------------

// A recording in the published layout from raw records (header and end record added).
struct Emf {
  Bytes body;
  uint32_t count = 0;
  Emf& Raw(uint32_t type, Bytes payload) {
    platform::WriteEmfRecord(body, platform::EmrUnknown{type, std::move(payload)});
    ++count;
    return *this;
  }
  Emf& R(uint32_t type, std::initializer_list<int64_t> words) {
    Bytes p;
    for (int64_t w : words) Put32(p, static_cast<uint32_t>(w));
    return Raw(type, std::move(p));
  }
  Bytes Data() const {
    platform::EmrHeader h;
    h.Bounds = {0, 0, 400, 300};
    h.Frame = {0, 0, 10583, 7937};
    h.Handles = 8;
    h.Records = count + 2;
    h.Device = {794, 1123};
    h.Millimeters = {210, 297};
    h.Micrometers = {210000, 297000};
    Bytes head, eof;
    platform::WriteEmfRecord(head, h);
    platform::WriteEmfRecord(eof, platform::EmrEof{});
    h.Bytes = static_cast<uint32_t>(head.size() + body.size() + eof.size());
    head.clear();
    platform::WriteEmfRecord(head, h);
    head.insert(head.end(), body.begin(), body.end());
    head.insert(head.end(), eof.begin(), eof.end());
    return head;
  }
};

uint32_t F(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return u;
}

Emf& Font(Emf& e, int32_t height, const std::u16string& face, int32_t escapement = 0) {
  Bytes p;
  Put32(p, 1);
  for (int32_t v : {height, 0, escapement, escapement, 700}) Put32(p, static_cast<uint32_t>(v));
  p.insert(p.end(), {1, 0, 0, 0, 0, 0, 0, 0});
  for (size_t i = 0; i < 32; ++i) {
    const char16_t c = i < face.size() ? face[i] : u'\0';
    p.push_back(static_cast<uint8_t>(c));
    p.push_back(static_cast<uint8_t>(c >> 8));
  }
  e.Raw(82, p);
  return e.R(37, {1});
}

Emf& Text(Emf& e, int32_t x, int32_t y, const std::u16string& text, uint32_t options, platform::EmfRect rcl,
          bool spacing) {
  Bytes p;
  for (int i = 0; i < 4; ++i) Put32(p, 0);
  Put32(p, 1);
  Put32(p, F(1));
  Put32(p, F(1));
  Put32(p, static_cast<uint32_t>(x));
  Put32(p, static_cast<uint32_t>(y));
  Put32(p, static_cast<uint32_t>(text.size()));
  Put32(p, 76);
  Put32(p, options);
  for (int32_t v : {rcl.Left, rcl.Top, rcl.Right, rcl.Bottom}) Put32(p, static_cast<uint32_t>(v));
  const uint32_t dx_at = 76 + static_cast<uint32_t>((text.size() * 2 + 3) / 4 * 4);
  Put32(p, spacing ? dx_at : 0);
  for (char16_t c : text) {
    p.push_back(static_cast<uint8_t>(c));
    p.push_back(static_cast<uint8_t>(c >> 8));
  }
  while (p.size() + 8 < dx_at) p.push_back(0);
  if (spacing)
    for (size_t i = 0; i < text.size(); ++i) Put32(p, 9);
  return e.Raw(84, p);
}

Emf& StretchDib(Emf& e, int w, int h, int bits) {
  const uint32_t palette = bits <= 8 ? (1u << bits) : 0;
  Bytes dib;
  for (uint32_t v : {40u, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1u | static_cast<uint32_t>(bits) << 16,
                     0u, 0u, 0u, 0u, palette, 0u})
    Put32(dib, v);
  for (uint32_t i = 0; i < palette; ++i) Put32(dib, i * 0x010203u);
  const size_t stride = (static_cast<size_t>(w) * static_cast<size_t>(bits) + 31) / 32 * 4;
  for (size_t i = 0; i < stride * static_cast<size_t>(h); ++i) dib.push_back(static_cast<uint8_t>(i * 13));
  const uint32_t cb_bmi = 40 + 4 * palette;
  Bytes p;
  for (int64_t v : {int64_t{10}, int64_t{10}, int64_t{90}, int64_t{70}, int64_t{10}, int64_t{10}, int64_t{0},
                    int64_t{0}, int64_t{w}, int64_t{h}, int64_t{80}, int64_t{cb_bmi}, int64_t{80 + cb_bmi},
                    static_cast<int64_t>(dib.size() - cb_bmi), int64_t{0}, int64_t{0x00CC0020}, int64_t{80},
                    int64_t{60}})
    Put32(p, static_cast<uint32_t>(v));
  p.insert(p.end(), dib.begin(), dib.end());
  return e.Raw(81, p);
}

void MakeMetafiles() {
  {
    platform::Metafile mf(595, 842, 72);
    platform::MetafileCanvas c(mf);
    c.Pen().Width = 3;
    c.Pen().Color = 0x2040C0;
    c.Rectangle(10, 10, 200, 100);
    c.Brush().Style = platform::TBrushStyle::bsClear;
    c.Ellipse(50, 120, 150, 200);
    c.Pie(200, 200, 300, 300, 300, 250, 250, 200);
    const std::vector<platform::TPoint> points = {{0, 0}, {40, 5}, {70000, 30}, {10, 60}};
    c.Polygon(points);
    c.Polyline(std::vector<platform::TPoint>{{5, 5}, {50, 50}, {80, 20}});
    c.SaveDC();
    c.IntersectClipRect(20, 20, 120, 120);
    c.Font().Name = "Arial";
    c.Font().Size = 12;
    c.TextOut(30, 30, u"QUIRVEL \u00B5m \u00B0");
    c.RestoreDC(-1);
    c.Font().Orientation = 450;
    c.TextOut(100, 300, u"rotated");
    c.Close();
    Put("emf", "canvas.emf", mf.Data());
  }
  Emf e;
  e.R(17, {8}).R(9, {1000, 1000}).R(11, {500, -500}).R(10, {10, 10}).R(12, {5, 5});
  e.R(35, {F(1.5f), F(0.2f), F(-0.2f), F(1.5f), F(10), F(20)});
  e.R(38, {2, 1, 4, 0, 0x0000FF}).R(37, {2}).R(39, {3, 0, 0x00FF00, 0}).R(37, {3});
  e.R(41, {100, 100, 40, F(30), F(270)});
  e.R(27, {10, 10}).R(54, {200, 40});
  e.R(59, {}).R(27, {0, 0}).R(54, {50, 0}).R(54, {25, 40}).R(61, {}).R(60, {}).R(63, {0, 0, 50, 40});
  e.R(33, {}).R(30, {0, 0, 300, 200});
  Font(e, -16, u"Arial", 300);
  e.R(22, {0x18 | 1});
  Text(e, 40, 40, u"Ag\u00E9e\u0301", 6, {30, 30, 200, 60}, true);
  e.R(34, {-1});
  Text(e, 10, 200, u"plain", 0, {0, 0, -1, -1}, false);
  StretchDib(e, 4, 3, 24);
  StretchDib(e, 5, 2, 8);
  StretchDib(e, 9, 2, 1);
  Put("emf", "records.emf", e.Data());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds <corpus folder>\n";
    return 2;
  }
  g_out = argv[1];
  MakeJpeg();
  MakeTiffs();
  MakeFonts();
  MakeBlobs();
  MakeTrees();
  MakeMetafiles();
  return 0;
}
