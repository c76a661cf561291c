#include "platform/xls/compound_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/base/byte_order.h"
#include "platform/base/cp1252.h"
#include "platform/xls/tests/xls_tools.h"

namespace platform::xls {
namespace {

using testing::Python;
using testing::Quote;
using testing::RunTool;
using testing::TempDir;
using testing::WriteBytes;

std::vector<uint8_t> Pattern(size_t size, unsigned seed) {
  std::vector<uint8_t> d(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : d) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return d;
}

struct StreamCase {
  const char* label;
  std::vector<std::pair<std::string, size_t>> streams;  // name, size
};

class CompoundFileStreams : public ::testing::TestWithParam<StreamCase> {};

// olefile, told to refuse anything incorrect, reads every stream back byte for byte: small
// streams from the mini stream, large ones from ordinary sectors, and the FAT through the
// DIFAT chain once it outgrows the header.
TEST_P(CompoundFileStreams, OlefileReadsEveryStreamBack) {
  const StreamCase& c = GetParam();
  TempDir dir;
  TCompoundFileWriter w;
  std::string pairs;
  std::string expected_list = "[";
  std::vector<std::string> names;
  for (size_t i = 0; i < c.streams.size(); ++i) names.push_back(c.streams[i].first);
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) expected_list += (i ? ", ['" : "['") + sorted[i] + "']";
  expected_list += "]";
  for (size_t i = 0; i < c.streams.size(); ++i) {
    const auto& [name, size] = c.streams[i];
    std::vector<uint8_t> data = Pattern(size, static_cast<unsigned>(i));
    const std::string expected = dir.File("expected" + std::to_string(i));
    WriteBytes(expected, data);
    w.AddStream(Utf8ToUtf16(name), std::move(data));
    pairs += " " + Quote(name + "=" + expected);
  }
  const std::vector<uint8_t> file = w.Build();
  ASSERT_EQ(file.size() % 512, 0u);
  const std::string path = dir.File("file.cfb");
  WriteBytes(path, file);

  const auto r = RunTool(Python() + " " + testing::DumpScript() + " ole " + Quote(path) + pairs);
  ASSERT_EQ(r.exit_code, 0) << "python3-olefile is needed (scripts/setup installs it)\n" << r.output;
  for (size_t i = 0; i < c.streams.size(); ++i) {
    const std::string line = "STREAM " + c.streams[i].first + "\t" + std::to_string(c.streams[i].second) + "\t1\n";
    EXPECT_NE(r.output.find(line), std::string::npos) << line << r.output;
  }
  EXPECT_NE(r.output.find("LIST " + expected_list), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CompoundFileStreams,
    ::testing::Values(StreamCase{"Tiny", {{"Workbook", 100}}},
                      StreamCase{"Empty", {{"Workbook", 0}}},
                      StreamCase{"JustBelowCutoff", {{"Workbook", 4095}}},
                      StreamCase{"AtCutoff", {{"Workbook", 4096}}},
                      StreamCase{"Mixed",
                                 {{"Workbook", 70000},
                                  {"SummaryA", 300},
                                  {"b", 64},
                                  {"Another", 65},
                                  {"Zeta", 5000},
                                  {"ccc", 1},
                                  {"Data1", 200000}}},
                      // 109 FAT sectors cover about 7 MB: beyond that the DIFAT chain begins.
                      StreamCase{"BeyondHeaderFat", {{"Workbook", 8u << 20}, {"small", 10}}}),
    [](const ::testing::TestParamInfo<StreamCase>& p) { return std::string(p.param.label); });

TEST(CompoundFile, LargeFileUsesDifatSectors) {
  TCompoundFileWriter w;
  w.AddStream(u"Workbook", std::vector<uint8_t>(16u << 20, 0x5A));
  const std::vector<uint8_t> f = w.Build();
  const uint32_t fat_sectors = LoadLE32(&f[44]);
  const uint32_t difat_sectors = LoadLE32(&f[72]);
  EXPECT_GT(fat_sectors, 109u);
  EXPECT_EQ(difat_sectors, (fat_sectors - 109 + 126) / 127);
  // Every sector of the file has a FAT entry.
  EXPECT_GE(uint64_t{fat_sectors} * 128, f.size() / 512 - 1);
}

// ---------------------------------------------------------------- directory tree

struct Node {
  std::u16string name;
  uint8_t color;
  uint32_t left, right, child;
};

// Reads the directory entries of a small file (its FAT fits the header).
std::vector<Node> ReadDirectory(const std::vector<uint8_t>& f) {
  const uint32_t fat_sectors = LoadLE32(&f[44]);
  std::vector<uint32_t> fat;
  for (uint32_t i = 0; i < fat_sectors; ++i) {
    const uint32_t s = LoadLE32(&f[76 + 4 * i]);
    for (int k = 0; k < 128; ++k) fat.push_back(LoadLE32(&f[512 * (s + 1) + 4 * k]));
  }
  std::vector<Node> nodes;
  for (uint32_t s = LoadLE32(&f[48]); s != 0xFFFFFFFE; s = fat.at(s)) {
    for (int e = 0; e < 4; ++e) {
      const uint8_t* p = &f[512 * (s + 1) + 128 * e];
      const uint16_t bytes = LoadLE16(p + 64);
      Node n;
      for (int i = 0; i + 2 < bytes; i += 2) n.name += static_cast<char16_t>(LoadLE16(p + i));
      n.color = p[67];
      n.left = LoadLE32(p + 68);
      n.right = LoadLE32(p + 72);
      n.child = LoadLE32(p + 76);
      nodes.push_back(n);
    }
  }
  return nodes;
}

// Checks the red-black rules below `id` and returns the black height (-1 on a violation).
int BlackHeight(const std::vector<Node>& nodes, uint32_t id, bool parent_red, std::vector<std::u16string>& in_order) {
  if (id == 0xFFFFFFFF) return 1;
  const Node& n = nodes.at(id);
  const bool red = n.color == 0;
  if (red && parent_red) return -1;
  const int l = BlackHeight(nodes, n.left, red, in_order);
  in_order.push_back(n.name);
  const int r = BlackHeight(nodes, n.right, red, in_order);
  if (l < 0 || r < 0 || l != r) return -1;
  return l + (red ? 0 : 1);
}

TEST(CompoundFile, DirectoryIsARedBlackTreeInNameOrder) {
  for (int n = 1; n <= 20; ++n) {
    TCompoundFileWriter w;
    std::vector<std::u16string> names;
    for (int i = 0; i < n; ++i) {
      // Mixed lengths and letter case, added in no particular order.
      std::u16string name = Utf8ToUtf16(std::string(1 + (i * 7) % 5, static_cast<char>(i % 2 ? 'a' + i : 'A' + i)));
      name += static_cast<char16_t>(u'0' + i % 10);
      name += static_cast<char16_t>(u'a' + i / 10);
      names.push_back(name);
      w.AddStream(name, Pattern(static_cast<size_t>(i * 300), static_cast<unsigned>(i)));
    }
    const std::vector<Node> nodes = ReadDirectory(w.Build());
    ASSERT_EQ(nodes[0].name, u"Root Entry");
    const uint32_t root = nodes[0].child;
    ASSERT_NE(root, 0xFFFFFFFFu);
    EXPECT_EQ(nodes.at(root).color, 1) << n << " streams: the root of the tree is black";
    std::vector<std::u16string> in_order;
    EXPECT_GT(BlackHeight(nodes, root, false, in_order), 0) << n << " streams";
    std::sort(names.begin(), names.end(),
              [](const auto& a, const auto& b) { return CompareDirectoryNames(a, b) < 0; });
    EXPECT_EQ(in_order, names) << n << " streams";
  }
}

TEST(CompoundFile, NamesCompareShorterFirstThenWithoutCase) {
  EXPECT_LT(CompareDirectoryNames(u"Zz", u"aaa"), 0);
  EXPECT_EQ(CompareDirectoryNames(u"Workbook", u"WORKBOOK"), 0);
  EXPECT_LT(CompareDirectoryNames(u"abc", u"ABD"), 0);
  EXPECT_EQ(CompareDirectoryNames(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);
  EXPECT_GT(CompareDirectoryNames(u"b", u"A"), 0);
}

TEST(CompoundFile, RefusesNamesTheContainerCannotHold) {
  TCompoundFileWriter w;
  w.AddStream(u"Workbook", {});
  for (const std::u16string& bad : {std::u16string(), std::u16string(32, u'x'), std::u16string(u"a/b"),
                                    std::u16string(u"a:b"), std::u16string(u"a!b"), std::u16string(u"a\\b"),
                                    std::u16string(u"WORKBOOK")}) {
    EXPECT_THROW(w.AddStream(bad, {}), ECompoundFileError) << Utf16ToUtf8(bad);
  }
  EXPECT_NO_THROW(w.AddStream(std::u16string(31, u'x'), {}));
}

}  // namespace
}  // namespace platform::xls
