// show: the table's entries as the chip holds them, readable or in the system's text form.
#include <algorithm>
#include <ostream>

#include <nlohmann/json.hpp>

#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::EntryRow;

// Entries come a page at a time; the table here is built whole, in handle order.
constexpr std::size_t kPage = 4096;

nlohmann::ordered_json actionJson(ActionValues const& a) {
   nlohmann::ordered_json j = {{"action", actionName(a.kind)}};
   if (a.kind == ActionKind::onMiss) return j;
   j["keyId"] = a.keyId;
   j["rwId"] = a.rwId;
   j["prot"] = a.prot;
   j["frag"] = a.frag;
   j[a.kind == ActionKind::hit ? "nextHop" : "ecmpGroup"] = a.target;
   return j;
}

// One entry for scripts; "action" is null when the chip no longer holds the entry. The key
// is the one the table knows the entry by: with its VRF on a table with the VRF field.
nlohmann::ordered_json rowJson(EntryRow const& r, bool withKey, bool vrfKeyField) {
   nlohmann::ordered_json j = {{"handle", r.handle}, {"status", originText(r.origin)}};
   if (withKey) {
      MatchKey const& k = r.entry.match;
      j["dst"] = dotted(k.dip);
      j["src"] = dotted(k.sip);
      j["vrf"] = vrfKeyField ? nlohmann::ordered_json(k.vrf) : nlohmann::ordered_json();
   }
   if (r.origin != TwiceNatAgent::EntryOrigin::missingOnChip) {
      j.update(actionJson(r.entry.action));
   } else {
      j["action"] = nullptr;
   }
   return j;
}

int show(ParsedArgs const& args, AgentStart& agent, std::ostream& out, std::ostream&) {
   TwiceNatAgent::AgentCore const& core = *agent;
   TwiceNatAgent::ReadFilter f;
   std::optional<ActionKind> action;
   if (args.has("dst")) f.dip = args.address("dst");
   if (args.has("src")) f.sip = args.address("src");
   if (args.has("vrf")) f.vrf = U16(args.number("vrf", 0xFFFF, 0));
   if (auto a = args.value("action")) action = parseActionKind(*a);
   if (f.vrf && !core.vrfKeyField()) {
      throw InputError("this chip's table has no VRF key field: --vrf cannot filter it");
   }
   std::vector<EntryRow> rows;
   for (U64 cursor = core.readPage(0, kPage, f, rows); cursor != 0;)
      cursor = core.readPage(cursor, kPage, f, rows);
   std::sort(rows.begin(), rows.end(),
             [](EntryRow const& a, EntryRow const& b) { return a.handle < b.handle; });
   if (action) {
      std::erase_if(rows, [&](EntryRow const& r) {
         return r.origin == TwiceNatAgent::EntryOrigin::missingOnChip ||
                r.entry.action.kind != *action;
      });
   }
   if (args.has("text") && args.has("json"))
      throw InputError("--text and --json exclude each other");
   if (args.has("text")) {
      printEntryText(out, rows);
      return kExitOk;
   }
   bool filtered = f.dip || f.sip || f.vrf || action;
   std::optional<EntryRow> def;
   if (!filtered) def = core.readDefault();
   if (args.has("json")) {
      nlohmann::ordered_json j = {{"entries", nlohmann::ordered_json::array()},
                                  {"matching", rows.size()},
                                  {"total", core.count()},
                                  {"staleRecords", agent.staleRecords()}};
      for (EntryRow const& r : rows)
         j["entries"].push_back(rowJson(r, true, core.vrfKeyField()));
      j["default"] = def ? rowJson(*def, false, false) : nlohmann::ordered_json();
      out << j.dump(2) << "\n";
      return kExitOk;
   }
   printEntryTable(out, rows, def);
   out << rows.size() << (filtered ? " matching" : "") << " entr"
       << (rows.size() == 1 ? "y" : "ies") << " of " << core.count() << "\n";
   if (agent.staleRecords()) {
      out << "warning: " << agent.staleRecords()
          << " key record(s) name entries the chip no longer holds\n";
   }
   return kExitOk;
}

}  // namespace

Command showCommand() {
   return {{"show",
            "[--dst A.B.C.D] [--src A.B.C.D] [--vrf N] [--action onMiss|hit|ecmp] [--text | "
            "--json]",
            "Shows the table's entries.",
            "Shows the table's entries as read back from the chip: handle, VRF, addresses, "
            "action, parameters and status (programmed by this run, or found by the resync at "
            "start), then the default action. With --text, one entry per line in the system's "
            "text form, which 'load' reads back; with --json, one JSON object for scripts.",
            {{"dst", "A.B.C.D", "only entries with this destination"},
             {"src", "A.B.C.D", "only entries with this source"},
             {"vrf", "N", "only entries in this VRF"},
             {"action", "onMiss|hit|ecmp", "only entries with this action"},
             {"text", "", "the system's text form, one entry per line"},
             {"json", "", "entries, default and counts as one JSON object"}}},
           nullptr,
           show};
}

}  // namespace TwiceNatCli
