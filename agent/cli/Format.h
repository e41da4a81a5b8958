#pragma once
// What the agent prints: the readable entry table, the text form lines, the load progress bar.
#include <chrono>
#include <cstdio>
#include <ostream>
#include <vector>

#include "agent/cli/EntrySpec.h"
#include "agent/core/AgentCore.h"

namespace TwiceNatCli {

// Columns: handle, VRF, destination, source, action, parameters, status; the default entry
// (when given) as the last line.
void printEntryTable(std::ostream& os, std::vector<TwiceNatAgent::EntryRow> const& rows,
                     std::optional<TwiceNatAgent::EntryRow> const& defaultRow);
// One line per entry: the system's text form of the entry as read back.
void printEntryText(std::ostream& os, std::vector<TwiceNatAgent::EntryRow> const& rows);
// "programmed" (by this run), "resynced" (found by the start) or "missing on chip".
char const* originText(TwiceNatAgent::EntryOrigin origin);
// "hit keyId=1 rwId=2 prot=6 frag=0 nextHop=7" for an action as the chip holds it.
std::string actionText(ActionPtr const& action);
std::string handleText(U32 handle);

// A bar on stderr when it is a terminal; silent otherwise. Redraws at most every 1/16 s.
class ProgressBar {
 public:
   explicit ProgressBar(std::size_t total);
   void update(std::size_t done);
   // Clears the bar's line.
   void finish();

 private:
   std::size_t total_;
   bool on_;
   std::chrono::steady_clock::time_point last_{};
};

}  // namespace TwiceNatCli
