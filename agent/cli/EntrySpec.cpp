#include "agent/cli/EntrySpec.h"

#include <sstream>

#include "Zin/Strep.h"
#include "agent/cli/Args.h"
#include "agent/cli/InputError.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatCli {

using BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry;

ActionKind parseActionKind(std::string_view text) {
   if (text == "onMiss") return ActionKind::onMiss;
   if (text == "hit" || text == "twiceNatAddrOnlyHit") return ActionKind::hit;
   if (text == "ecmp" || text == "twiceNatAddrOnlyHitEcmp") return ActionKind::ecmp;
   throw InputError("unknown action '" + cut(text) + "': use onMiss, hit or ecmp");
}

std::string_view actionName(ActionKind kind) {
   return TwiceNatService::actionKindName(kind);
}

MatchKey matchKeyFromArgs(ParsedArgs const& args) {
   MatchKey key;
   key.dip = args.address("dst");
   key.sip = args.address("src");
   if (args.has("vrf")) {
      key.vrf = U16(args.number("vrf", 0xFFFF, 0));
      key.vrfGiven = true;
   }
   return key;
}

ActionValues actionFromArgs(ParsedArgs const& args) {
   auto kindText = args.value("action");
   if (!kindText) throw InputError("missing --action onMiss|hit|ecmp");
   ActionValues a;
   a.kind = parseActionKind(*kindText);
   char const* const params[] = {"key-id", "rw-id", "prot", "frag", "next-hop", "ecmp-group"};
   if (a.kind == ActionKind::onMiss) {
      for (char const* p : params) {
         if (args.has(p))
            throw InputError("action onMiss takes no parameters, but --" + std::string(p) +
                             " was given");
      }
      return a;
   }
   a.keyId = U16(args.number("key-id", 0xFFFF, 0));
   a.rwId = U16(args.number("rw-id", 0xFFFF, 0));
   a.prot = U8(args.number("prot", 0xFF, 0));
   a.frag = U8(args.number("frag", 0xFF, 0));
   char const* want = a.kind == ActionKind::hit ? "next-hop" : "ecmp-group";
   char const* other = a.kind == ActionKind::hit ? "ecmp-group" : "next-hop";
   if (args.has(other)) {
      throw InputError("--" + std::string(other) + " does not go with action " +
                       std::string(actionName(a.kind)) + " (it takes --" + want + ")");
   }
   if (!args.has(want)) {
      throw InputError("action " + std::string(actionName(a.kind)) + " needs --" + want + " N");
   }
   a.target = U16(args.number(want, 0xFFFF, 0));
   return a;
}

Columns splitColumns(std::string_view line) {
   Columns cols;
   std::size_t i = 0;
   while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
         ++i;
      std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t')
         ++i;
      if (i == start) continue;
      if (cols.count < Columns::kMax) cols.at[cols.count] = line.substr(start, i - start);
      ++cols.count;
   }
   return cols;
}

EntrySpec parseColumns(Columns const& c) {
   if (c.size() < 4) {
      throw InputError(
          "expected DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP], got " +
          std::to_string(c.size()) + " column(s)");
   }
   EntrySpec e;
   e.match.dip = parseIpv4(c[0], "destination");
   e.match.sip = parseIpv4(c[1], "source");
   if (c[2] != "-") {
      e.match.vrf = U16(parseNumber(c[2], "VRF", 0xFFFF));
      e.match.vrfGiven = true;
   }
   e.action.kind = parseActionKind(c[3]);
   std::size_t want = e.action.kind == ActionKind::onMiss ? 4 : 9;
   if (c.size() != want) {
      throw InputError("action " + std::string(actionName(e.action.kind)) + " takes " +
                       std::to_string(want) + " columns, got " + std::to_string(c.size()));
   }
   if (e.action.kind != ActionKind::onMiss) {
      e.action.keyId = U16(parseNumber(c[4], "key id", 0xFFFF));
      e.action.rwId = U16(parseNumber(c[5], "rewrite id", 0xFFFF));
      e.action.prot = U8(parseNumber(c[6], "protocol", 0xFF));
      e.action.frag = U8(parseNumber(c[7], "fragment", 0xFF));
      e.action.target = U16(
          parseNumber(c[8], e.action.kind == ActionKind::hit ? "next hop" : "ECMP group", 0xFFFF));
   }
   return e;
}

namespace {

EntrySpec parseText(std::string_view line) {
   TwiceNatAddrOnlyTableEntry entry;
   try {
      entry = Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(std::string(line));
   } catch (Zin::Exception const& e) {
      throw InputError("not a table entry: " + cut(e.what(), 160));
   }
   if (!entry.match()) throw InputError("the entry has no match");
   if (!entry.action()) throw InputError("the entry has no action");
   std::optional<ActionValues> action = actionValuesOf(*entry.action());
   if (!action) {
      std::ostringstream t;
      t << "the action's class does not fit its actionType " << entry.action()->actionType();
      throw InputError(t.str());
   }
   return EntrySpec{matchKeyOf(*entry.match()), *action};
}

}  // namespace

EntrySpec parseEntryLine(std::string_view line) {
   std::size_t start = line.find_first_not_of(" \t");
   line = line.substr(start == std::string_view::npos ? line.size() : start);
   while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.remove_suffix(1);
   }
   if (line.substr(0, 6) == "Value(") return parseText(line);
   return parseColumns(splitColumns(line));
}

std::string paramsText(ActionValues const& a) {
   if (a.kind == ActionKind::onMiss) return "";
   return "keyId=" + std::to_string(a.keyId) + " rwId=" + std::to_string(a.rwId) +
          " prot=" + std::to_string(a.prot) + " frag=" + std::to_string(a.frag) +
          (a.kind == ActionKind::hit ? " nextHop=" : " ecmpGroup=") + std::to_string(a.target);
}

}  // namespace TwiceNatCli
