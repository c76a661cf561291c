// Writes the seed files that come from our own writers and from the libraries we call: JPEG
// (our encoder; libjpeg for progressive, restart-interval and arithmetic-coded files), TIFF
// (libtiff), TrueType subsets (our subsetter over the installed fonts), compressed BLOB
// streams, B-tree index pages, and metafiles (our recorder, and records in the published
// layout that the recorder does not write), PDF files of our writer and database files of our
// engine. Run once, for every corpus or the named ones; the files are committed:
//
//   cmake --build build/test --target fuzz_make_seeds && build/test/fuzz/fuzz_make_seeds fuzz/corpus [name ...]
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/storage/orv_btree_page_index.h"
#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/tests/page_store_double.h"
#include "dbengine/file/orv_disk_engine_database.h"
#include "dbengine/file/orv_disk_engine_internal_files.h"
#include "dbengine/file/tests/disk_session.h"
#include "dbengine/storage/orv_except.h"
#include "fuzz/db_file_fuzz.h"
#include "fuzz/pdf_document.h"
#include "platform/base/clock.h"
#include "platform/files/fault_file.h"
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

// ---- database files of our engine ------------------------------------------------------------

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A database of small pages (so that a whole file stays within the fuzzer's input length).
std::unique_ptr<orv::TORVDiskDatabaseData> Database(const fs::path& path, const orv::TORVPassword& password = {},
                                                    platform::FileFactory factory = {}) {
  auto db = std::make_unique<orv::TORVDiskDatabaseData>(std::move(factory));
  db->FDatabaseName = path.string();
  db->FPassword = password;
  db->FPageSize = 512;
  db->FPageCountInExtent = 4;
  db->FMaxSessionCount = 16;
  return db;
}

// Lists a table the way a table create does, with real metadata and most-updated files (the
// metadata compressed) behind it, committed for the system session.
void AddTable(orv::TORVDiskDatabaseData& db, int32_t id, const std::string& name) {
  orv::TORVDiskPageManager& pm = *db.GetDiskPageManager();
  db.LockTables();
  orv::TORVInternalDBTransactedAccessFile metadata(pm, orv::ptTableMetaDataFile);
  metadata.CreateFile(orv::SYSTEM_SESSION_ID);
  std::string text;
  for (int i = 0; i < 12; ++i) text += "Field" + std::to_string(i) + "=" + name + ";";
  metadata.WriteFile(orv::SYSTEM_SESSION_ID, text.data(), static_cast<int32_t>(text.size()), orv::acaZLIB, 6);
  orv::TORVInternalDBTransactedAccessFile most_updated(pm, orv::ptTableMostUpdatedFile);
  most_updated.CreateFile(orv::SYSTEM_SESSION_ID);
  const int32_t counters[4] = {id, 7, 0, -1};
  most_updated.WriteFile(orv::SYSTEM_SESSION_ID, counters, sizeof counters, orv::acaNone, 0);
  db.AddTable(id, name, metadata.GetStartPageNo(), most_updated.GetStartPageNo(), -1);
  pm.ApplyChanges(orv::SYSTEM_SESSION_ID);
  db.UnlockTables();
}

void MakeDatabases() {
  const fs::path dir = fs::temp_directory_path() / ("quirvel-seeds-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  platform::ManualClock clock;
  platform::ScopedClock scoped(clock);
  const auto with_tables = [&](const std::string& name, const orv::TORVPassword& password, bool multi_user) {
    const fs::path path = dir / name;
    Database(path, password)->CreateDatabase();
    auto db = Database(path, password);
    orv::testing::DiskSession s(*db, multi_user);
    s.Connect();
    AddTable(*db, 1, "Plate");
    AddTable(*db, 2, "Messung \xB5m");
    s.Disconnect();
    return path;
  };
  Database(dir / "empty.orv")->CreateDatabase();
  Put("db_file", "empty.orv", ReadBytes(dir / "empty.orv"));
  Put("db_file", "two_tables.orv", ReadBytes(with_tables("two.orv", {}, true)));
  Put("db_file", "encrypted.orv", ReadBytes(with_tables("enc.orv", fuzz::SeedPassword(), false)));

  // A commit of a table cut off after its journal and one more write reached the disk
  // (the process died there): the next opener puts the file back from the journal.
  // (On an empty database, so that file and journal stay within the fuzzer's input length.)
  const fs::path cut = dir / "cut.orv";
  Database(cut)->CreateDatabase();
  const Bytes before_cut = ReadBytes(cut);
  const auto add_table = [&](int64_t fail_write) {
    auto plan = std::make_shared<platform::FaultPlan>();
    auto db = Database(cut, {}, platform::FaultInjectingFactory(plan));
    orv::testing::DiskSession s(*db);
    s.Connect();
    plan->ResetCounters();
    plan->fail_write = fail_write;
    plan->sticky = true;
    try {
      AddTable(*db, 1, "Cut");
    } catch (const orv::EORVException&) {
    }
    return plan->writes;
  };
  // The writes of the whole commit, then the same commit dying at its last write (the header
  // that marks it complete).
  const int64_t writes = add_table(0);
  std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(before_cut.data()),
                                             static_cast<std::streamsize>(before_cut.size()));
  add_table(writes);
  Bytes cut_bytes = ReadBytes(cut);
  const Bytes journal = ReadBytes(cut.string() + "-journal");
  if (journal.empty()) {
    std::cerr << "the cut commit left no journal\n";
    std::exit(1);
  }
  cut_bytes.insert(cut_bytes.end(), journal.begin(), journal.end());
  Put("db_file", "cut_commit_with_journal.orv", cut_bytes);
  fs::remove_all(dir);
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
      {"db_file", MakeDatabases},
  };
  for (const auto& [name, make] : sections) {
    bool wanted = argc == 2;
    for (int i = 2; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], name) == 0;
    if (wanted) make();
  }
  return 0;
}
