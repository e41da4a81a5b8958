// What a benchmark family wants in the run's summary: pairs of runs whose time per item is set
// side by side (library over baseline), and figures a family computes itself (bytes per entry,
// a scaling ratio). Families register them at static initialisation; BenchMain prints them.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Time per item of `library` over that of `baseline` (benchmark names as Google Benchmark
// reports them), judged against `goal` (the ratio must not pass it); a NaN goal shows the ratio
// for information only.
struct RatioRow {
   std::string figure;
   std::string library;
   std::string baseline;
   double goal;
};

// A value a family measured, judged against `goal`: at most it, or at least it. A NaN goal
// shows the value for information only. The note, when there is one, follows the value (what it
// was computed from).
struct FigureRow {
   std::string figure;
   double value;
   std::string unit;
   double goal;
   bool atMost;
   std::string note;
};

// Items per second of a run (its fastest repetition), as a figure judged against `goal` (at
// least it; NaN: for information).
struct RateRow {
   std::string figure;
   std::string run;
   std::string unit;  // "updates/s"
   double goal;
};

std::vector<RatioRow>& ratioRows();
std::vector<FigureRow>& figureRows();
std::vector<RateRow>& rateRows();

// For use at namespace scope: `bench::Ratio r{"figure", "libRun", "baseRun", 1.25};`
struct Ratio {
   Ratio(std::string figure, std::string library, std::string baseline, double goal) {
      ratioRows().push_back({std::move(figure), std::move(library), std::move(baseline), goal});
   }
};

// Called from inside a benchmark once its figure is known; a later call replaces an earlier one
// of the same figure (benchmarks run more than once while Google Benchmark sizes them).
void figureIs(std::string const& figure, double value, std::string const& unit, double goal,
              bool atMost, std::string const& note = "");

// Repetitions of each run that a ratio judges: its fastest one counts.
inline constexpr int kRatioRepetitions = 5;

// Time per item of a run that has finished, its fastest repetition (0 when it did not run).
double nsPerItem(std::string const& benchmarkName);

}  // namespace bench
