#include "agent/cli/Format.h"

#include <unistd.h>

#include <iomanip>
#include <sstream>

namespace TwiceNatCli {

std::string handleText(U32 handle) {
   std::ostringstream t;
   t << "0x" << std::hex << handle;
   return t.str();
}

std::string actionText(ActionPtr const& action) {
   if (!action) return "-";
   std::optional<ActionValues> a = actionValuesOf(*action);
   if (!a) return "?";
   std::string params = paramsText(*a);
   return std::string(actionName(a->kind)) + (params.empty() ? "" : " " + params);
}

namespace {

// The widest parameters, "keyId=65535 rwId=65535 prot=255 frag=255 ecmpGroup=65535", and a gap.
constexpr int kParamsWidth = 57;

void printRow(std::ostream& os, std::string const& handle, TwiceNatAgent::EntryRow const& r,
              bool isDefault) {
   std::string vrf = "-", dst = "-", src = "-", action = "-", params;
   if (r.origin != TwiceNatAgent::EntryOrigin::missingOnChip) {
      if (!isDefault) {
         MatchKey const& m = r.entry.match;
         if (m.vrfGiven) vrf = std::to_string(m.vrf);
         dst = dotted(m.dip);
         src = dotted(m.sip);
      }
      action = actionName(r.entry.action.kind);
      params = paramsText(r.entry.action);
   }
   os << std::left << std::setw(11) << handle << std::setw(6) << vrf << std::setw(16) << dst
      << std::setw(16) << src << std::setw(7) << action << std::setw(kParamsWidth) << params
      << originText(r.origin) << "\n";
}

}  // namespace

char const* originText(TwiceNatAgent::EntryOrigin origin) {
   switch (origin) {
      case TwiceNatAgent::EntryOrigin::programmed:
         return "programmed";
      case TwiceNatAgent::EntryOrigin::resynced:
         return "resynced";
      case TwiceNatAgent::EntryOrigin::missingOnChip:
         return "missing on chip";
   }
   return "?";
}

void printEntryTable(std::ostream& os, std::vector<TwiceNatAgent::EntryRow> const& rows,
                     std::optional<TwiceNatAgent::EntryRow> const& defaultRow) {
   os << std::left << std::setw(11) << "HANDLE" << std::setw(6) << "VRF" << std::setw(16)
      << "DESTINATION" << std::setw(16) << "SOURCE" << std::setw(7) << "ACTION"
      << std::setw(kParamsWidth) << "PARAMETERS"
      << "STATUS\n";
   for (TwiceNatAgent::EntryRow const& r : rows)
      printRow(os, handleText(r.handle), r, false);
   if (defaultRow) printRow(os, "default", *defaultRow, true);
}

void printEntryText(std::ostream& os, std::vector<TwiceNatAgent::EntryRow> const& rows) {
   for (TwiceNatAgent::EntryRow const& r : rows) {
      if (r.origin == TwiceNatAgent::EntryOrigin::missingOnChip) continue;
      BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry entry(matchSpecOf(r.entry.match));
      entry.actionIs(actionSpecOf(r.entry.action));
      os << entry << "\n";
   }
}

ProgressBar::ProgressBar(std::size_t total) : total_(total), on_(total > 0 && ::isatty(2)) {}

void ProgressBar::update(std::size_t done) {
   if (!on_) return;
   auto now = std::chrono::steady_clock::now();
   if (done != total_ && now - last_ < std::chrono::milliseconds(62)) return;
   last_ = now;
   constexpr std::size_t kWidth = 40;
   std::size_t filled = done * kWidth / total_;
   std::string bar(filled, '#');
   bar.resize(kWidth, '.');
   std::fprintf(stderr, "\r[%s] %3zu%% %zu/%zu", bar.c_str(), done * 100 / total_, done, total_);
   std::fflush(stderr);
}

void ProgressBar::finish() {
   if (on_) std::fprintf(stderr, "\r%*s\r", 70, "");
}

}  // namespace TwiceNatCli
