// Speed of an entry's text form: printing it and parsing it back through the runtime's
// generic object text, each beside a plain baseline that writes the same line with snprintf
// and reads its fields back with strtoul into a struct (no objects, no registry). Before
// timing, the baseline must print exactly the library's line and read back exactly the
// entry's fields, or the run is refused: the ratios compare equal work on the same text.
// Also the agent's line parser (entry files) on both of its forms.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AgentBed.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "Summary.h"
#include "agent/cli/EntrySpec.h"

namespace {

using namespace BfTwiceNatAddrOnly;

constexpr int kBatch = 1024;

// The fields a line carries, as the baseline reads them.
struct Fields {
   unsigned long dip, sip, vrf, isSet, frag, keyId, prot, rwId, target;
   bool vrfIsSet, ecmp;
   bool operator==(Fields const&) const = default;
};

Fields fieldsOf(TwiceNatAddrOnlyTableEntry const& e) {
   auto const& m = *e.match();
   auto const& a = *e.action();
   bool const ecmp = a.actionType() == twiceNatAddrOnlyHitEcmpActionSpec;
   unsigned long target = ecmp
                              ? static_cast<TwiceNatAddrOnlyHitEcmpActionSpec const&>(a).ecmpGroup()
                              : static_cast<TwiceNatAddrOnlyHitActionSpec const&>(a).nextHop();
   return {m.outerIpv4HdrDip(),
           m.outerIpv4HdrSip(),
           m.l3InfoVrfId(),
           m.isSet(),
           a.frag(),
           a.keyId(),
           a.prot(),
           a.rwId(),
           target,
           m.l3InfoVrfIdIsSet(),
           ecmp};
}

char const kMatchFormat[] =
    "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {'match': "
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': %lu, "
    "'outerIpv4HdrSip': %lu, 'l3InfoVrfId': %lu, 'isSet': %lu, 'l3InfoVrfIdIsSet': %s}), "
    "'action': ";
char const kHitFormat[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec', ** {'actionType': "
    "twiceNatAddrOnlyHitActionSpec, 'frag': %lu, 'keyId': %lu, 'prot': %lu, 'rwId': %lu, "
    "'nextHop': %lu})})";
char const kEcmpFormat[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitEcmpActionSpec', ** {'actionType': "
    "twiceNatAddrOnlyHitEcmpActionSpec, 'frag': %lu, 'keyId': %lu, 'prot': %lu, 'rwId': %lu, "
    "'ecmpGroup': %lu})})";

int baselinePrint(Fields const& f, char* out, std::size_t size) {
   int n = std::snprintf(out, size, kMatchFormat, f.dip, f.sip, f.vrf, f.isSet,
                         f.vrfIsSet ? "True" : "False");
   n += std::snprintf(out + n, size - n, f.ecmp ? kEcmpFormat : kHitFormat, f.frag, f.keyId, f.prot,
                      f.rwId, f.target);
   return n;
}

// Reads the line back: every literal piece compared, every number with strtoul. False when
// the text is not of this shape.
bool baselineParse(char const* p, Fields& f) {
   auto lit = [&p](char const* s) {
      std::size_t const n = std::strlen(s);
      if (std::strncmp(p, s, n) != 0) return false;
      p += n;
      return true;
   };
   auto num = [&p](unsigned long& v) {
      char* end = nullptr;
      v = std::strtoul(p, &end, 10);
      if (end == p) return false;
      p = end;
      return true;
   };
   if (!lit("Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {'match': "
            "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': ") ||
       !num(f.dip) || !lit(", 'outerIpv4HdrSip': ") || !num(f.sip) || !lit(", 'l3InfoVrfId': ") ||
       !num(f.vrf) || !lit(", 'isSet': ") || !num(f.isSet) || !lit(", 'l3InfoVrfIdIsSet': ")) {
      return false;
   }
   if (lit("True")) {
      f.vrfIsSet = true;
   } else if (lit("False")) {
      f.vrfIsSet = false;
   } else {
      return false;
   }
   if (!lit("}), 'action': Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHit")) return false;
   f.ecmp = lit("Ecmp");
   if (!lit(f.ecmp ? "ActionSpec', ** {'actionType': twiceNatAddrOnlyHitEcmpActionSpec, 'frag': "
                   : "ActionSpec', ** {'actionType': twiceNatAddrOnlyHitActionSpec, 'frag': ") ||
       !num(f.frag) || !lit(", 'keyId': ") || !num(f.keyId) || !lit(", 'prot': ") || !num(f.prot) ||
       !lit(", 'rwId': ") || !num(f.rwId) || !lit(f.ecmp ? ", 'ecmpGroup': " : ", 'nextHop': ") ||
       !num(f.target) || !lit("})})")) {
      return false;
   }
   return *p == '\0';
}

struct Texts {
   Texts() {
      for (U32 i = 0; i < kBatch; ++i) {
         // Spread the numbers over their widths, so that both sides print long and short ones.
         entries.push_back(bench::benchEntry(i * 2654435761u % 0xFFFFFF, true));
         lines.push_back(valueToStrep(entries.back()));
         fields.push_back(fieldsOf(entries.back()));
         auto const& f = fields.back();
         columns.push_back(TwiceNatAgent::dotted(f.dip) + " " + TwiceNatAgent::dotted(f.sip) + " " +
                           std::to_string(f.vrf) + (f.ecmp ? " ecmp " : " hit ") +
                           std::to_string(f.keyId) + " " + std::to_string(f.rwId) + " " +
                           std::to_string(f.prot) + " " + std::to_string(f.frag) + " " +
                           std::to_string(f.target));
      }
   }
   // Empty when the baseline does the library's work on these lines; else what differs.
   std::string baselineMismatch() const {
      char buf[1024];
      for (int i = 0; i < kBatch; ++i) {
         baselinePrint(fields[i], buf, sizeof buf);
         if (lines[i] != buf) return "baseline prints " + std::string(buf) + " for " + lines[i];
         Fields back{};
         if (!baselineParse(lines[i].c_str(), back) || !(back == fields[i])) {
            return "baseline reads other fields from " + lines[i];
         }
      }
      return "";
   }
   std::vector<TwiceNatAddrOnlyTableEntry> entries;
   std::vector<std::string> lines;
   std::vector<std::string> columns;
   std::vector<Fields> fields;
};

Texts const& texts() {
   static Texts const t;
   return t;
}

double const kNoGoal = std::numeric_limits<double>::quiet_NaN();

// Thread CPU time: the machine these run on is shared, and time spent waiting for a core is
// not the text's.
double cpuNs() {
   timespec ts{};
   ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
   return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Runs `op` over the batch and gives its CPU ns per entry as a figure.
template <class Op>
void timed(benchmark::State& st, char const* figure, Op op) {
   double const t0 = cpuNs();
   for (auto _ : st) {
      for (int i = 0; i < kBatch; ++i)
         op(i);
   }
   double const ns = (cpuNs() - t0) / static_cast<double>(st.iterations() * kBatch);
   st.SetItemsProcessed(st.iterations() * kBatch);
   bench::figureIs(std::string(figure) + ", ns per entry", ns, "ns", kNoGoal, true);
}

void textPrintBaseline(benchmark::State& st) {
   Texts const& t = texts();
   if (std::string const bad = t.baselineMismatch(); !bad.empty()) {
      st.SkipWithError(bad.c_str());
      return;
   }
   char buf[1024];
   timed(st, "entry text, print (snprintf)", [&](int i) {
      benchmark::DoNotOptimize(baselinePrint(t.fields[i], buf, sizeof buf));
      benchmark::ClobberMemory();
   });
}

void textPrintLibrary(benchmark::State& st) {
   Texts const& t = texts();
   timed(st, "entry text, print",
         [&](int i) { benchmark::DoNotOptimize(valueToStrep(t.entries[i])); });
}

void textParseBaseline(benchmark::State& st) {
   Texts const& t = texts();
   if (std::string const bad = t.baselineMismatch(); !bad.empty()) {
      st.SkipWithError(bad.c_str());
      return;
   }
   timed(st, "entry text, parse (strtoul)", [&](int i) {
      Fields f{};
      benchmark::DoNotOptimize(baselineParse(t.lines[i].c_str(), f));
      benchmark::DoNotOptimize(f);
   });
}

void textParseLibrary(benchmark::State& st) {
   Texts const& t = texts();
   timed(st, "entry text, parse", [&](int i) {
      benchmark::DoNotOptimize(Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(t.lines[i]));
   });
}

// The agent's reading of an entry file's lines: the text form, and the column form.
void textAgentLine(benchmark::State& st, bool columns) {
   Texts const& t = texts();
   auto const& lines = columns ? t.columns : t.lines;
   timed(st, columns ? "entry file line, column form" : "entry file line, text form",
         [&](int i) { benchmark::DoNotOptimize(TwiceNatCli::parseEntryLine(lines[i])); });
}

BENCHMARK(textPrintBaseline);
BENCHMARK(textPrintLibrary);
BENCHMARK(textParseBaseline);
BENCHMARK(textParseLibrary);
BENCHMARK_CAPTURE(textAgentLine, text, false);
BENCHMARK_CAPTURE(textAgentLine, columns, true);

bench::Ratio printOverBaseline{"entry text, print, over snprintf", "textPrintLibrary",
                               "textPrintBaseline", 2.0};
bench::Ratio parseOverBaseline{"entry text, parse, over strtoul", "textParseLibrary",
                               "textParseBaseline", 2.0};

}  // namespace
