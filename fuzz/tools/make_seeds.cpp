// Writes the seed files that come from our own writers and from the libraries we call: JPEG
// (our encoder; libjpeg for progressive, restart-interval and arithmetic-coded files), TIFF
// (libtiff), TrueType subsets (our subsetter over the installed fonts), compressed BLOB
// streams, B-tree index pages, and metafiles (our recorder, and records in the published
// layout that the recorder does not write), PDF files of our writer and database files of our
// engine. Run once, for every corpus or the named ones; the files are committed:
//
//   cmake --build build/test --target fuzz_make_seeds && build/test/fuzz/fuzz_make_seeds fuzz/corpus [name ...]
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/storage/orv_btree_page_index.h"
#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/tests/page_store_double.h"
#include "fuzz/pdf_document.h"
#include "pdfwriter/tests/emf_builder.h"
#include "pdfwriter/mrvx_fonts.h"
#include "platform/fonts/font_provider.h"
#include "platform/image/bitmap.h"
#include "platform/image/jpeg_codec.h"
#include "platform/image/tests/libjpeg_writer.h"
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
  return platform::testing::LibJpegFile(Pattern(w, h), setup, 60);
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

uint32_t F(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return u;
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
  pdfwriter::testing::EmfBuilder e;
  e.R(17, {8}).R(9, {1000, 1000}).R(11, {500, -500}).R(10, {10, 10}).R(12, {5, 5});
  e.R(35, {F(1.5f), F(0.2f), F(-0.2f), F(1.5f), F(10), F(20)});
  e.R(38, {2, 1, 4, 0, 0x0000FF}).R(37, {2}).R(39, {3, 0, 0x00FF00, 0}).R(37, {3});
  e.R(41, {100, 100, 40, F(30), F(270)});
  e.R(27, {10, 10}).R(54, {200, 40});
  e.R(59, {}).R(27, {0, 0}).R(54, {50, 0}).R(54, {25, 40}).R(61, {}).R(60, {}).R(63, {0, 0, 50, 40});
  e.R(33, {}).R(30, {0, 0, 300, 200});
  using namespace pdfwriter::testing;
  Font(e, -16, u"Arial", 300);
  e.R(22, {0x18 | 1});
  Text(e, 40, 40, u"Ag\u00E9e\u0301", 6, {30, 30, 200, 60}, {9, 9, 9, 9, 9});
  e.R(34, {-1});
  Text(e, 10, 200, u"plain");
  StretchDib(e, {10, 10, 90, 70}, 2, 2, DibOf(2, 2, 24, {0xFF0000, 0x00FF00, 0x0000FF, 0}));
  StretchDib(e, {100, 10, 190, 70}, 2, 2, DibOf(2, 2, 8, {0, 1, 2, 3}, {0xFF0000, 0x00FF00, 0x0000FF, 0}), 4);
  StretchDib(e, {200, 10, 290, 70}, 2, 2, DibOf(2, 2, 1, {0, 1, 1, 0}, {0x000000, 0xFFFFFF}), 2);
  Put("emf", "records.emf", e.Bytes());
}

// ---- PDF files of our writer -----------------------------------------------------------------

void MakePdfs() {
  const auto put = [](const std::string& name, fuzz::PdfDocument& pdf) {
    pdf.End();
    Put("pdf_loader", name, Bytes(pdf.out.begin(), pdf.out.end()));
  };
  {
    // Uncompressed: text, shapes and a small picture on two pages.
    fuzz::PdfDocument pdf(pdfwriter::TMRVXCompressionMethod::cmNone);
    pdfwriter::TMRVXPage& p = *pdf.doc.CurrentPage();
    p.SetFont("Helvetica", 0, 12, 0, false);
    p.TextOut(40, 50, 0, "Dot area 42.5 %");
    p.SetRGBFillColor(0x3040C0);
    p.Rectangle(40, 80, 100, 30);
    p.Fill();
    p.ShowImage(pdf.doc.AddImage(Pattern(3, 2), pdfwriter::TMRVXImageCompressionType::icFlate), 200, 80, 30, 20, 0);
    pdf.doc.AddPage();
    pdf.doc.CurrentPage()->SetFont("Helvetica", 0, 10, 0, false);
    pdf.doc.CurrentPage()->TextOut(40, 50, 0, "Second page");
    put("own_plain.pdf", pdf);
  }
  {
    // Compressed content, drawn through the canvas.
    fuzz::PdfDocument pdf;
    platform::MetafileCanvas& c = *pdf.doc.Canvas();
    c.Brush().Color = 0x00C000;
    c.Ellipse(100, 100, 200, 160);
    c.Pen().Width = 2;
    c.Rectangle(20, 20, 300, 200);
    put("own_flate.pdf", pdf);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: fuzz_make_seeds <corpus folder> [section ...]\n";
    return 2;
  }
  g_out = argv[1];
  const std::pair<const char*, void (*)()> sections[] = {
      {"jpeg", MakeJpeg},        {"tiff", MakeTiffs},   {"truetype", MakeFonts},  {"blob_stream", MakeBlobs},
      {"btree_pages", MakeTrees}, {"emf", MakeMetafiles}, {"pdf_loader", MakePdfs},
  };
  for (const auto& [name, make] : sections) {
    bool wanted = argc == 2;
    for (int i = 2; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], name) == 0;
    if (wanted) make();
  }
  return 0;
}
