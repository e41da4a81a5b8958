// The benchmark program's main: runs the selected benchmarks, then prints every registered
// ratio and figure with its goal. With TWICENAT_BENCH_SUMMARY=FILE it also writes the rows as
// tab-separated lines (figure, goal, value, PASS or MISS) for scripts/bench.
//
// A ratio's two runs repeat, and each side counts its fastest repetition, the one the rest of
// the machine disturbed least. scripts/bench also has them take turns in random order
// (--benchmark_enable_random_interleaving), so both sides meet the same spread of machine states.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Summary.h"

namespace bench {

std::vector<RatioRow>& ratioRows() {
   static std::vector<RatioRow> rows;
   return rows;
}

std::vector<FigureRow>& figureRows() {
   static std::vector<FigureRow> rows;
   return rows;
}

std::vector<RateRow>& rateRows() {
   static std::vector<RateRow> rows;
   return rows;
}

namespace {

// Time per item of every repetition of every run, by benchmark name.
std::map<std::string, std::vector<double>>& nsTable() {
   static std::map<std::string, std::vector<double>> t;
   return t;
}

// A run's name without the "/iterations:N" and "/repeats:N" that fixed iterations and
// repetitions add, so that summary rows name runs alike.
std::string baseName(std::string name) {
   for (char const* suffix : {"/iterations:", "/repeats:"}) {
      auto at = name.find(suffix);
      if (at != std::string::npos) name.erase(at);
   }
   return name;
}

// Keeps each run's time per item so that the summary can set them side by side.
class Collector : public benchmark::ConsoleReporter {
 public:
   void ReportRuns(std::vector<Run> const& runs) override {
      ConsoleReporter::ReportRuns(runs);
      for (Run const& r : runs) {
         if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
         auto items = r.counters.find("items_per_second");
         if (items != r.counters.end() && items->second.value > 0)
            nsTable()[baseName(r.benchmark_name())].push_back(1e9 / items->second.value);
      }
   }
};

}  // namespace

void figureIs(std::string const& figure, double value, std::string const& unit, double goal,
              bool atMost, std::string const& note) {
   for (FigureRow& f : figureRows()) {
      if (f.figure == figure) {
         f = {figure, value, unit, goal, atMost, note};
         return;
      }
   }
   figureRows().push_back({figure, value, unit, goal, atMost, note});
}

// A value with as many decimals as tell it apart from its neighbours: 1.23, 12.3, 149.
std::string valueText(double v, std::string const& unit, std::string const& note) {
   char text[64];
   double const a = std::fabs(v);
   std::snprintf(text, sizeof text, a < 10 ? "%.2f" : a < 100 ? "%.1f" : "%.0f", v);
   std::string out = std::string(text) + " " + unit;
   if (!note.empty()) out += " " + note;
   return out;
}

double nsPerItem(std::string const& benchmarkName) {
   auto it = nsTable().find(benchmarkName);
   if (it == nsTable().end() || it->second.empty()) return 0;
   return *std::min_element(it->second.begin(), it->second.end());
}

}  // namespace bench

int main(int argc, char** argv) {
   benchmark::Initialize(&argc, argv);
   if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
   bench::Collector collector;
   benchmark::RunSpecifiedBenchmarks(&collector);
   benchmark::Shutdown();

   for (bench::RateRow const& r : bench::rateRows()) {
      double const ns = bench::nsPerItem(r.run);
      if (ns > 0) bench::figureIs(r.figure, 1e9 / ns, r.unit, r.goal, false);
   }
   std::FILE* tsv = nullptr;
   if (char const* path = std::getenv("TWICENAT_BENCH_SUMMARY")) tsv = std::fopen(path, "w");
   std::printf("\n%-52s %11s %11s %8s %8s\n", "figure", "library ns", "baseline ns", "ratio",
               "goal");
   for (bench::RatioRow const& r : bench::ratioRows()) {
      double lib = bench::nsPerItem(r.library);
      double base = bench::nsPerItem(r.baseline);
      if (lib == 0 || base == 0) continue;  // filtered out of this run
      double ratio = lib / base;
      if (std::isnan(r.goal)) {  // shown for information, with no goal
         std::printf("%-52s %11.1f %11.1f %7.2fx\n", r.figure.c_str(), lib, base, ratio);
         if (tsv) std::fprintf(tsv, "%s\t-\t%.2fx\t-\n", r.figure.c_str(), ratio);
         continue;
      }
      bool pass = ratio <= r.goal;
      std::printf("%-52s %11.1f %11.1f %7.2fx %7.2fx %s\n", r.figure.c_str(), lib, base, ratio,
                  r.goal, pass ? "PASS" : "MISS");
      if (tsv)
         std::fprintf(tsv, "%s\t<= %.2fx\t%.2fx\t%s\n", r.figure.c_str(), r.goal, ratio,
                      pass ? "PASS" : "MISS");
   }
   for (bench::FigureRow const& f : bench::figureRows()) {
      std::string const value = bench::valueText(f.value, f.unit, f.note);
      if (std::isnan(f.goal)) {  // a figure shown for information, with no goal
         std::printf("%-52s %s\n", f.figure.c_str(), value.c_str());
         if (tsv) std::fprintf(tsv, "%s\t-\t%s\t-\n", f.figure.c_str(), value.c_str());
         continue;
      }
      bool pass = f.atMost ? f.value <= f.goal : f.value >= f.goal;
      std::string const goal =
          std::string(f.atMost ? "<= " : ">= ") + bench::valueText(f.goal, f.unit, "");
      std::printf("%-52s %s (goal %s) %s\n", f.figure.c_str(), value.c_str(), goal.c_str(),
                  pass ? "PASS" : "MISS");
      if (tsv)
         std::fprintf(tsv, "%s\t%s\t%s\t%s\n", f.figure.c_str(), goal.c_str(), value.c_str(),
                      pass ? "PASS" : "MISS");
   }
   if (tsv) std::fclose(tsv);
   return 0;
}
