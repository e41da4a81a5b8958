// show: the table's entries as the chip holds them, streamed a page at a time: readable, in the
// system's text form, or as JSON; the text and JSON forms load back with `load`.
#include <iostream>
#include <sstream>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::EntryOrigin;

enum class Form { table, text, json };

// The page's rows; before the first, the table's header or the JSON object's opening.
void printPage(std::ostream& os, Form form, Page const& page, bool& started, U64& rows) {
   std::ostringstream out;
   std::string json;
   if (!started && form == Form::table) printTableHeader(out);
   if (!started && form == Form::json) json = "{\"entries\":[";
   started = true;
   for (EntryRow const& row : page.rows) {
      switch (form) {
         case Form::table:
            printTableRow(out, row, false);
            break;
         case Form::text:
            printTextRow(out, row, false);
            break;
         case Form::json:
            json += rows ? ",\n" : "\n";
            TwiceNatService::appendRow(json, row, true);
            break;
      }
      ++rows;
   }
   os << out.str() << json;
}

int show(ParsedArgs const& args, GlobalOptions const& global) {
   if (args.has("text") && args.has("json"))
      throw InputError("--text and --json exclude each other");
   Form const form = args.has("text") ? Form::text : args.has("json") ? Form::json : Form::table;
   Request q{Op::show};
   if (args.has("dst")) q.filter.key.dip = args.address("dst");
   if (args.has("src")) q.filter.key.sip = args.address("src");
   if (args.has("vrf")) q.filter.key.vrf = U16(args.number("vrf", 0xFFFF, 0));
   if (auto a = args.value("action")) q.filter.action = parseActionKind(*a);
   bool const filtered = q.filter.any();

   AgentLink agent(global, false);
   agent.submit(q);
   Page page;
   bool started = false;
   U64 rows = 0, stale = 0;
   for (bool more = true; more;) {
      more = agent.page(page);
      if (!page.status.ok()) {
         std::cout << std::flush;
         return failed(page.status, std::cerr);
      }
      for (EntryRow const& row : page.rows)
         stale += row.origin == EntryOrigin::missingOnChip;
      printPage(std::cout, form, page, started, rows);
   }
   std::optional<EntryRow> const& def = page.defaultRow;
   switch (form) {
      case Form::text:
         if (def) printTextRow(std::cout, *def, true);
         break;
      case Form::json: {
         std::string tail = "\n],\n\"matching\":" + std::to_string(page.matching) +
                            ",\"total\":" + std::to_string(page.total) +
                            ",\"staleRecords\":" + std::to_string(stale) + ",\n\"default\":";
         if (def) {
            TwiceNatService::appendRow(tail, *def, false);
         } else {
            tail += "null";
         }
         std::cout << tail << "}\n";
         break;
      }
      case Form::table:
         if (def) printTableRow(std::cout, *def, true);
         std::cout << page.matching << (filtered ? " matching" : "") << " entr"
                   << (page.matching == 1 ? "y" : "ies") << " of " << page.total << "\n";
         if (stale) {
            std::cout << "warning: " << stale
                      << " key record(s) name entries the chip no longer holds\n";
         }
         break;
   }
   return kExitOk;
}

}  // namespace

Command showCommand() {
   return {{"show",
            "[--dst A.B.C.D] [--src A.B.C.D] [--vrf N] [--action onMiss|hit|ecmp] [--text | "
            "--json]",
            "Shows the table's entries.",
            "Shows the table's entries as read back from the chip, in the order of their keys: "
            "handle, VRF, addresses, action, parameters and status (programmed by this run of "
            "the agent, or found by the resync at its start), then the default action. With "
            "--text, one entry per line in the system's text form; with --json, one JSON "
            "object (an entry per line). Both load back with 'load', default included. The "
            "entries come a page at a time, so a table of any size streams.",
            {{"dst", "A.B.C.D", "only entries with this destination"},
             {"src", "A.B.C.D", "only entries with this source"},
             {"vrf", "N", "only entries in this VRF"},
             {"action", "onMiss|hit|ecmp", "only entries with this action"},
             {"text", "", "the system's text form, one entry per line"},
             {"json", "", "entries, counts and default as one JSON object"}}},
           show};
}

}  // namespace TwiceNatCli
