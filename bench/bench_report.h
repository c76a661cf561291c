#pragma once
// A console reporter that also keeps one time per benchmark for the summary lines a benchmark
// prints after its run. With --benchmark_repetitions the figure is the median of the
// repetitions (never the standard deviation or the coefficient of variation, which arrive as
// further aggregates); without repetitions it is the one run's time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace bench {

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const std::string& name = r.run_name.function_name;
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name != "median") continue;
        ms[name] = r.GetAdjustedRealTime();
        from_median_.insert(name);
      } else if (!from_median_.count(name)) {
        ms[name] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Time per iteration in the benchmark's unit, by function name.
  std::map<std::string, double> ms;

 private:
  std::set<std::string> from_median_;
};

// One line per benchmark with a time budget: its time and the share of the budget it takes.
struct Budget {
  const char* name;
  double ms;
};
inline void PrintBudgets(const SummaryReporter& rep, std::initializer_list<Budget> budgets) {
  for (const Budget& b : budgets) {
    const auto it = rep.ms.find(b.name);
    if (it == rep.ms.end()) continue;
    std::printf("%s: %.1f ms of %.0f ms (%.0f %%)\n", b.name, it->second, b.ms, 100 * it->second / b.ms);
  }
}

}  // namespace bench
