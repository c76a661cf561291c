#pragma once
// Reads the histograms and expected thresholds of tests/data/threshold_truth.py.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/analyze_hist.h"

namespace analysis::testing {

struct ThresholdCase {
  std::unique_ptr<THist> hist;  // counts with MaxPos and MaxHist over all bins
  int32_t von = 0, limit = 0, q = 0;
  bool eightBit = false;
  // Two-peak threshold (mode 0).
  int32_t th = 0, prozent = 0, left = 0, right = 0;
  // Tile threshold with q, for the 8-bit histograms.
  int32_t ith = 0, iprozent = 0, il = 0, ir = 0, ikont = 0;
};

// count random histograms; with onlyEightBit no 10,001-level ones.
inline std::vector<ThresholdCase> RunThresholdTruth(int seed, int count, bool onlyEightBit = false) {
  const std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/threshold_truth.py' " +
                              std::to_string(seed) + " " + std::to_string(count) + (onlyEightBit ? " 8bit" : "") +
                              " 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot start python3");
  std::array<char, 65536> buffer{};
  size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("threshold_truth.py failed: " + out);

  std::vector<ThresholdCase> cases;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string tag;
    in >> tag;
    if (tag == "H") {
      ThresholdCase c;
      c.hist = std::make_unique<THist>();
      int32_t maxPos = 0;
      in >> maxPos >> c.hist->MaxHist >> c.von >> c.limit >> c.q;
      c.hist->MaxPos = static_cast<uint16_t>(maxPos);
      cases.push_back(std::move(c));
    } else if (tag == "B") {
      int32_t bin = 0;
      int32_t counted = 0;
      while (in >> bin >> counted) cases.back().hist->Hist[static_cast<size_t>(bin)] = counted;
    } else if (tag == "T") {
      ThresholdCase& c = cases.back();
      in >> c.th >> c.prozent >> c.left >> c.right;
    } else if (tag == "I") {
      ThresholdCase& c = cases.back();
      c.eightBit = true;
      in >> c.ith >> c.iprozent >> c.il >> c.ir >> c.ikont;
    }
    if (!in.eof() && in.fail()) throw std::runtime_error("unreadable line: " + line.substr(0, 80));
  }
  return cases;
}

}  // namespace analysis::testing
