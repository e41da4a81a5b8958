// clear: every entry removed and the default action reset, a page at a time.
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::Change;

int clear(ParsedArgs const& args, GlobalOptions const& global) {
   AgentLink agent(global, true);
   if (!args.has("yes")) {
      U64 const entries = agent.call(Request{Op::status}).figures.entries;
      Request get{Op::get};
      get.withDefault = true;
      bool const withDefault = agent.call(get).defaultRow.has_value();
      if (entries || withDefault) {
         throw InputError(
             "the table holds " + std::to_string(entries) + " entr" + (entries == 1 ? "y" : "ies") +
             (withDefault ? " and a default action" : "") + ": 'clear --yes' removes them all");
      }
   }
   Reply const r = agent.call(Request{Op::clear});
   U64 const n = r.batch.removed;
   std::string const removed = std::to_string(n) + " entr" + (n == 1 ? "y" : "ies") + " removed";
   if (!r.status.ok()) {
      std::cout << "cleared in part: " << removed << " before a failure\n";
      return failed(r.status, std::cerr);
   }
   std::cout << "cleared: " << removed << ", "
             << (r.programmed.change == Change::none ? "no default action was set"
                                                     : "default action reset to onMiss")
             << "\n";
   return kExitOk;
}

}  // namespace

Command clearCommand() {
   return {{"clear",
            "[--yes]",
            "Removes every entry and resets the default action.",
            "Removes every entry of the table and puts the default action back to onMiss. Asks "
            "for --yes when the table is not empty (exit status 2 without it). Through an agent "
            "it goes a page of entries at a time, and other clients are served between pages.",
            {{"yes", "", "clear a table that holds entries"}}},
           clear,
           true};
}

}  // namespace TwiceNatCli
