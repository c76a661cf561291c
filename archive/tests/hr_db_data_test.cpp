// The archive's database side on real files of our engine: the template and the first opens,
// the rows of every measurement kind read back (and their PNG checked by Python), two
// processes storing at once, the multi-user errors mapped to the language lines, the title-click
// index, and the compact command's number parse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "archive/hr_db_data.h"
#include "archive/tests/archive_file_fixture.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/orv_main_table.h"
#include "cmake/test_tools.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/base/datetime.h"
#include "platform/data/database_error.h"
#include "platform/data/field.h"
#include "platform/image/png_codec.h"
#include "platform/ui/scripted_ui.h"

namespace archive {
namespace {

using orv::testing::InChild;
using orv::testing::Peer;
using orv::testing::ScratchDir;

std::string OutDir() {
  const std::string out = std::string(QUIRVEL_TEST_OUTPUT) + "/archive";
  std::filesystem::create_directories(out);
  return out;
}

// A captured image with a recognisable pattern and a header line in its bottom row.
platform::Bitmap TestImage(int w = 64, int h = 48) {
  platform::Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      p[3 * x] = static_cast<uint8_t>(x * 3 + y);
      p[3 * x + 1] = static_cast<uint8_t>(y * 5);
      p[3 * x + 2] = static_cast<uint8_t>(x ^ y);
    }
  }
  uint8_t* last = b.ScanLine(h - 1);
  const char header[] = "QUIRVEL-HEADER";
  for (size_t i = 0; i < sizeof header - 1; ++i) last[i] = static_cast<uint8_t>(header[i]);
  return b;
}

using ArchiveDataTest = testing::ArchiveFileTest;

TEST_F(ArchiveDataTest, OpeningAFreshCopyTwiceMakesFilmAndOneBackupRowOnce) {
  Start();
  data->PLATETAB().Append();
  data->PLATETAB().FieldByName("Algorithm")->SetAsString("PLATE DOT AREA");
  data->PLATETAB().Post();
  EXPECT_EQ(data->FILMTAB().RecordCount(), 0);
  EXPECT_TRUE(THRDBData::IndexExists(data->FILMTAB(), "DateTime"));
  EXPECT_EQ(data->FILMTAB().FieldCount(), data->PLATETAB().FieldCount());
  orv::TORVTable& backup = data->ORVBackupTable();
  ASSERT_EQ(backup.RecordCount(), 1);
  EXPECT_EQ(backup.FieldByName("DIR")->AsString(), "/home/qc/QUIRVEL");
  EXPECT_EQ(backup.FieldByName("Time")->AsInteger(), 0);
  for (const char* c : {"Mask", "Plate", "Structure", "Film"}) EXPECT_TRUE(backup.FieldByName(c)->IsNull()) << c;

  data->AddFILMMessung(45000.5, TestImage(), analysis::TMessung{}, "");
  data->OpenHRDB();  // the second open changes nothing
  EXPECT_EQ(data->ORVBackupTable().RecordCount(), 1);
  EXPECT_EQ(data->FILMTAB().RecordCount(), 1);
  EXPECT_EQ(data->PLATETAB().RecordCount(), 1);
}

TEST_F(ArchiveDataTest, AMissingFileIsTheEnginesErrorAndNothingIsCreated) {
  engine.Startup();
  data = std::make_unique<THRDBData>();
  data->SetDatabaseFileName(dir.Path() + "/none.orv");
  EXPECT_THROW(data->OpenHRDB(), std::exception);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/none.orv"));
  EXPECT_THROW(data->AddPLATEMessung(1, TestImage(), {}, ""), std::exception);
}

analysis::TMessung Sample(analysis::MType type) {
  analysis::TMessung m;
  m.aType = type;
  m.DotArea = 12.3;
  m.LCM = 60;
  m.Alpha = 45;
  m.EdgeFaktor = 1.234;
  m.DSTol = 2.5;
  m.CountAvg = 17;
  m.CountG = 3;
  m.CountK = 4;
  m.DiamAvg = 25.5;
  m.DiamG = 30.25;
  m.DiamK = 20.125;
  m.SizeAvg = 500.5;
  m.SizeG = 700;
  m.SizeK = 300;
  m.StdDevDiam = 1.5;
  m.StdDevSize = 12;
  m.LineWidth = 3.2;
  m.LineTol = 8;
  m.LineLenght = 3.5;
  m.Freq1 = 1.5;
  m.Periode1 = 40;
  m.Freq2 = 2.5;
  m.Periode2 = 80;
  return m;
}

// Python's zlib and struct read the stored BLOB as a PNG: 8-bit RGB, every row filtered and
// inflated, the bottom row still holding the header line's bytes. Prints the verdict.
std::string CheckPngWithPython(const std::string& file) {
  const std::string script = R"PY(
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
assert d[:8] == b'\x89PNG\r\n\x1a\n', 'signature'
pos, idat, ihdr = 8, b'', None
while pos < len(d):
    n, t = struct.unpack('>I4s', d[pos:pos + 8])
    body = d[pos + 8:pos + 8 + n]
    assert zlib.crc32(t + body) == struct.unpack('>I', d[pos + 8 + n:pos + 12 + n])[0], 'crc'
    if t == b'IHDR': ihdr = struct.unpack('>IIBBBBB', body)
    if t == b'IDAT': idat += body
    pos += 12 + n
w, h, depth, ctype = ihdr[:4]
raw = zlib.decompress(idat)
stride = 3 * w
rows, prev = [], bytearray(stride)
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 3] if i >= 3 else 0
        b = prev[i]
        c = prev[i - 3] if i >= 3 else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line)
    prev = line
last = rows[-1]
# The bitmap's bytes are blue, green, red per pixel; the PNG holds red, green, blue.
bgr = bytearray()
for i in range(0, len(last), 3): bgr += last[i:i + 3][::-1]
header = bytes(bgr[:14])
print(w, h, depth, ctype, header.decode('latin-1'))
)PY";
  const std::string py = file + ".check.py";
  std::ofstream(py) << script;
  const auto r = quirvel::testing::RunTool("python3 '" + py + "' '" + file + "'");
  std::filesystem::remove(py);
  return r.output;
}

struct KindCase {
  const char* table;
  analysis::MType type;
};

class ArchiveRowsTest : public ArchiveDataTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ArchiveRowsTest, AStoredMeasurementReadsBackWithinItsRounding) {
  const KindCase k = GetParam();
  Start();
  const platform::TDateTime dt = platform::EncodeDate(2026, 12, 11) + platform::EncodeTime(9, 30, 5, 0);
  const analysis::TMessung m = Sample(k.type);
  const std::string table = k.table;
  orv::TORVTable* t = nullptr;
  if (table == "MASK") {
    data->AddLAMSMessung(dt, TestImage(), m, "/r/QUIRVEL_1.pdf");
    t = &data->LAMSTAB();
  } else if (table == "PLATE") {
    data->AddPLATEMessung(dt, TestImage(), m, "/r/QUIRVEL_1.pdf");
    t = &data->PLATETAB();
  } else if (table == "SPLATE") {
    data->AddSPLATEMessung(dt, TestImage(), m, "/r/QUIRVEL_1.pdf");
    t = &data->SPLATETAB();
  } else {
    data->AddFILMMessung(dt, TestImage(), m, "/r/QUIRVEL_1.pdf");
    t = &data->FILMTAB();
  }
  ASSERT_EQ(t->RecordCount(), 1);
  t->First();
  EXPECT_EQ(t->FieldByName("Algorithm")->AsString(), analysis::MTYPENAMES[k.type]);
  EXPECT_EQ(t->FieldByName("JOBID")->AsString(), "J-17");
  EXPECT_EQ(t->FieldByName("Info")->AsString(), "first run");
  EXPECT_NEAR(t->FieldByName("DateTime")->AsDateTime(), dt, 1e-8);

  // The texts as stored, with their units and no blank before them.
  if (table == "SPLATE") {
    EXPECT_EQ(t->FieldByName("Structure")->AsString(), k.type == analysis::MT_PLATEWSIAREA ? "12.30%" : "12.30");
    EXPECT_EQ(t->FieldByName("Line Structure")->AsString(), "8.00%");
    EXPECT_EQ(t->FieldByName("Cycle2")->AsString(), "80.00\u00B5m");
  } else {
    EXPECT_EQ(t->FieldByName("DOTAREA")->AsString(), "12.30%");
    EXPECT_EQ(t->FieldByName("LCM")->AsString(), "60.00");
    EXPECT_EQ(t->FieldByName("ANGLE")->AsString(), "45.00\u00B0");
    EXPECT_EQ(t->FieldByName("SizeTol")->AsInteger(), 2);  // 2.5 to even
    EXPECT_EQ(t->FieldByName("LineLen")->AsInteger(), 4);  // 3.5 to even
    EXPECT_EQ(t->FieldByName("LineWidth")->AsString(), "3.20\u00B5m");
  }
  if (table == "MASK") {
    EXPECT_EQ(t->FieldByName("AVGSize")->AsString(), "500.50\u00B5m\u00B2");
    EXPECT_EQ(t->FieldByName("SDiameter")->AsString(), "20.13\u00B5m");  // 20.125 as the text conversion rounds
  }

  // The image BLOB is a PNG that an outside reader decodes, header row intact.
  const std::vector<uint8_t> png = t->FieldByName("Image")->AsBytes();
  // One file per case: two kinds share a table, and the cases run in parallel.
  const std::string file = OutDir() + "/row_image_" + table + "_" + std::to_string(static_cast<int>(k.type)) + ".png";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
  EXPECT_EQ(CheckPngWithPython(file), "64 48 8 2 QUIRVEL-HEADER\n");

  if (table == "FILM") return;  // FILM has no read-back
  platform::TDateTime rdt = 0;
  platform::Bitmap img(1, 1);
  analysis::TMessung r;
  TJobDesc rjob;
  std::string fn;
  if (table == "MASK") data->GetLAMSMessung(rdt, img, r, rjob, fn);
  if (table == "PLATE") data->GetPLATEMessung(rdt, img, r, rjob, fn);
  if (table == "SPLATE") data->GetSPLATEMessung(rdt, img, r, rjob, fn);
  EXPECT_EQ(img, TestImage());
  EXPECT_EQ(fn, "/r/QUIRVEL_1.pdf");
  EXPECT_EQ(rjob.User, "Anna");
  EXPECT_EQ(rjob.Plate, "Plate 4");
  EXPECT_EQ(r.aType, k.type);
  EXPECT_DOUBLE_EQ(r.DotArea, 12.3);
  EXPECT_DOUBLE_EQ(r.Periode2, table == "PLATE" ? 0 : 80);
  if (table != "SPLATE") {
    EXPECT_DOUBLE_EQ(r.Alpha, 45);
    EXPECT_DOUBLE_EQ(r.DSTol, 2);
    EXPECT_DOUBLE_EQ(r.LineLenght, 4);
    EXPECT_DOUBLE_EQ(r.DiamAvg, 25.5);
  } else {
    EXPECT_DOUBLE_EQ(r.LineTol, 8);
    EXPECT_DOUBLE_EQ(r.Alpha, 0);
  }
  if (table == "MASK") {
    EXPECT_DOUBLE_EQ(r.SizeAvg, 500.5);
    EXPECT_EQ(r.CountAvg, 17);
    EXPECT_EQ(r.CountK, 4);
    EXPECT_DOUBLE_EQ(r.LineTol, 8);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArchiveRowsTest,
                         ::testing::Values(KindCase{"MASK", analysis::MT_LAMSDOT}, KindCase{"PLATE", analysis::MT_PLATEDOT},
                                           KindCase{"SPLATE", analysis::MT_PLATEWSIAREA},
                                           KindCase{"SPLATE", analysis::MT_PLATEWSI},
                                           KindCase{"FILM", analysis::MT_FILMDOT}),
                         [](const auto& info) {
                           return std::string(info.param.table) + "_" + std::to_string(info.param.type);
                         });

TEST_F(ArchiveDataTest, ReadBackAcceptsACommaAndAnUnknownAlgorithmIsNone) {
  Start();
  orv::TORVTable& t = data->PLATETAB();
  for (const char* alg : {"INVALID", "PLATE  DOT AREA"}) {
    t.Append();
    t.FieldByName("DateTime")->SetAsDateTime(1000);
    t.FieldByName("Algorithm")->SetAsString(alg);
    t.FieldByName("Image")->SetAsBytes(platform::EncodePng(TestImage(8, 8)));
    t.FieldByName("Diameter")->SetAsString("12,5\u00B5m");
    t.FieldByName("ANGLE")->SetAsString("7,25\u00B0");
    t.Post();
    platform::TDateTime dt = 0;
    platform::Bitmap img;
    analysis::TMessung m;
    m.LCM = 99;
    TJobDesc j{"x", "x", "x", "x"};
    std::string fn = "x";
    data->GetPLATEMessung(dt, img, m, j, fn);
    EXPECT_EQ(m.aType, analysis::MT_NONE) << alg;
    EXPECT_DOUBLE_EQ(m.DiamAvg, 12.5);
    EXPECT_DOUBLE_EQ(m.Alpha, 7.25);
    EXPECT_DOUBLE_EQ(m.LCM, 0);  // cleared: the column is empty
    EXPECT_EQ(j.JobID, "");
    EXPECT_EQ(fn, "");
    EXPECT_EQ(img.Width(), 8);
  }
  // A row without a picture makes the reader raise, not hand back an empty image.
  t.Append();
  t.FieldByName("DateTime")->SetAsDateTime(1001);
  t.Post();
  t.Last();
  platform::TDateTime dt = 0;
  platform::Bitmap img;
  analysis::TMessung m;
  TJobDesc j;
  std::string fn;
  EXPECT_THROW(data->GetPLATEMessung(dt, img, m, j, fn), std::exception);
}

TEST_F(ArchiveDataTest, ARefusedRowIsCancelledSoTheNextStoreIsAloneAndWhole) {
  Start();
  // SPLATE with a unique time stamp: a second row of the same moment is refused at its post.
  {
    orv::TORVTable& s = data->SPLATETAB();
    s.Close();
    s.IndexDefs().Update();
    s.DeleteIndex("DateTime");
    s.AddIndex("DateTime", "DateTime", {platform::data::ixUnique});
    s.Open();
  }
  const analysis::TMessung m = Sample(analysis::MT_PLATEWSI);
  data->AddSPLATEMessung(100, TestImage(), m, "");
  EXPECT_ANY_THROW(data->AddSPLATEMessung(100, TestImage(), m, "second"));
  EXPECT_EQ(data->SPLATETAB().State(), platform::data::dsBrowse);
  ASSERT_FALSE(ui.Messages().empty());  // the error went through the post-error event
  data->AddSPLATEMessung(101, TestImage(), m, "third");
  EXPECT_EQ(data->SPLATETAB().RecordCount(), 2);
  data->SPLATETAB().Last();
  EXPECT_EQ(data->SPLATETAB().FieldByName("PDF")->AsString(), "third");
}

TEST_F(ArchiveDataTest, EngineOutcomesShowTheirLanguageLineOrTheEnginesMessage) {
  Start();
  data->AddLAMSMessung(1, TestImage(8, 8), Sample(analysis::MT_LAMSDOT), "");
  struct Case {
    int code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {-13, "DBERROR+2"},
      {-12, "DBERROR+1"},
      {-11, "Orveta Engine Error # -11 Cannot cancel operation in temporary mode"},
      {-8, "DBERROR+4"},
      {-7, "DBERROR+4"},
      {-6, "DBERROR+4"},
      {-5, "DBERROR+3"},
      {-4, "DBERROR+3"},
      {-1, "Orveta Engine Error # -1 Error adding record"},
  };
  for (const Case& c : cases) {
    ui.ClearRecords();
    orv::EORVEngineError e(c.code, "check failed");
    platform::data::TDataAction action = platform::data::daFail;
    data->LAMSTAB().Edit();
    data->HandleMultiUserError(data->LAMSTAB(), e, action);
    EXPECT_EQ(action, platform::data::daAbort);
    ASSERT_EQ(ui.Messages().size(), 1u) << c.code;
    EXPECT_EQ(ui.Messages()[0].text, c.text);
    // The conflicts give up the pending change and read the rows again.
    if (c.code >= -7 && c.code <= -4) EXPECT_EQ(data->LAMSTAB().State(), platform::data::dsBrowse) << c.code;
    if (data->LAMSTAB().State() != platform::data::dsBrowse) data->LAMSTAB().Cancel();
  }
  ui.ClearRecords();
  platform::data::EDatabaseError other("disk full");
  platform::data::TDataAction action = platform::data::daFail;
  data->HandleMultiUserError(data->LAMSTAB(), other, action);
  EXPECT_EQ(action, platform::data::daAbort);
  EXPECT_EQ(ui.Messages().at(0).text, "disk full");
}

TEST_F(ArchiveDataTest, TwoProcessesStoreFiveHundredRowsEachAndARecordLockGivesTheLanguageLine) {
  engine.Startup();
  CreateArchiveTemplate(path);
  engine.Shutdown();
  // Each side opens the archive in its own process with its own engine and stores 500 rows.
  auto store = [this](const char* who) {
    engine.Startup();
    Open();
    job.JobID = who;
    const platform::Bitmap img = TestImage(16, 16);
    analysis::TMessung m = Sample(analysis::MT_PLATEDOT);
    for (int i = 0; i < 500; ++i) {
      job.Info = std::to_string(i);
      data->AddPLATEMessung(1000 + i, img, m, "");
    }
    data.reset();
    engine.Shutdown();
    return 0;
  };
  Peer peer([&](Peer&) { return store("B"); });
  EXPECT_EQ(store("A"), 0);
  EXPECT_EQ(peer.Wait(), 0);

  // The other process edits the first row and keeps it locked until told to go on.
  Peer holder([&](Peer& self) {
    if (self.Receive() != 1) return 0;  // forked before this process opens anything
    engine.Startup();
    Open();
    data->PLATETAB().First();
    data->PLATETAB().Edit();
    self.Send(1);
    self.Receive();
    data->PLATETAB().Cancel();
    data.reset();
    engine.Shutdown();
    return 0;
  });
  Start(false);
  orv::TORVTable& t = data->PLATETAB();
  ASSERT_EQ(t.RecordCount(), 1000);
  std::set<std::string> seen;
  for (t.First(); !t.Eof(); t.Next()) {
    seen.insert(t.FieldByName("JOBID")->AsString() + "/" + t.FieldByName("Info")->AsString());
  }
  EXPECT_EQ(seen.size(), 1000u);

  holder.Send(1);
  ASSERT_EQ(holder.Receive(), 1);
  ui.ClearRecords();
  t.First();
  EXPECT_THROW(t.Edit(), platform::data::EAbort);  // aborted silently after the message
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].text, "DBERROR+1");
  EXPECT_EQ(t.State(), platform::data::dsBrowse);
  holder.Send(0);
  EXPECT_EQ(holder.Wait(), 0);
  // Once the lock is gone the edit goes through.
  t.Edit();
  t.FieldByName("Info")->SetAsString("edited");
  t.Post();
  std::filesystem::copy_file(path, OutDir() + "/two_process_archive.orv",
                             std::filesystem::copy_options::overwrite_existing);
}

TEST_F(ArchiveDataTest, ATitleClickIndexesItsColumnOnceAndNeverThePicture) {
  Start();
  orv::TORVTable& t = data->LAMSTAB();
  for (const char* j : {"b", "c", "a"}) {
    job.JobID = j;
    data->AddLAMSMessung(1, TestImage(8, 8), {}, "");
  }
  EXPECT_FALSE(THRDBData::IndexExists(t, "jobid"));  // names compare with their case
  data->CreateIndex(t, "JOBID", {});
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.IndexName(), "JOBID");
  t.First();
  EXPECT_EQ(t.FieldByName("JOBID")->AsString(), "a");
  EXPECT_TRUE(THRDBData::IndexExists(t, "JOBID"));
  data->CreateIndex(t, "DateTime", {});
  data->CreateIndex(t, "JOBID", {});  // exists: only switched to
  EXPECT_EQ(t.IndexName(), "JOBID");
  data->CreateIndex(t, "Image", {});  // a BLOB: nothing happens
  EXPECT_FALSE(THRDBData::IndexExists(t, "Image"));
  EXPECT_EQ(t.IndexName(), "JOBID");
  EXPECT_TRUE(t.Active());
}

TEST(ArchiveCompact, TheConnectionCountReadsLikeTheRuntimesConversion) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"10", 10}, {"0", 1}, {"-5", 1}, {"501", 1}, {"abc", 1}, {"12x", 12}, {"  7", 7},
      {"$1F", 31}, {"0x10", 16}, {"500", 500}, {"", 1}, {"99999999999999", 1}};
  for (const auto& [text, n] : cases) EXPECT_EQ(THRDBData::ParseConnectionCount(text), n) << text;
}

TEST(ArchiveRounding, HalfGoesToEven) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(2.51), 3);
  EXPECT_EQ(RoundHalfEven(1e12), INT32_MAX);
  EXPECT_EQ(RoundHalfEven(std::nan("")), INT32_MIN);
}

}  // namespace
}  // namespace archive
