#include "agent/cli/LoadLine.h"

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntry.h"
#include "Zin/Strep.h"
#include "agent/cli/Args.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::Update;
using TwiceNatAgent::UpdateKind;

std::string_view trimmed(std::string_view s) {
   std::size_t const first = s.find_first_not_of(" \t");
   if (first == std::string_view::npos) return {};
   std::size_t const last = s.find_last_not_of(" \t\r");
   return s.substr(first, last + 1 - first);
}

// "ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]" of a default line.
ActionValues defaultAction(Columns const& w) {
   if (w.size() < 2)
      throw InputError("expected default ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]");
   ActionValues a;
   a.kind = parseActionKind(w[1]);
   std::size_t const want = a.kind == ActionKind::onMiss ? 2 : 7;
   if (w.size() != want) {
      throw InputError("a default line with action " + std::string(actionName(a.kind)) + " takes " +
                       std::to_string(want) + " columns, got " + std::to_string(w.size()));
   }
   if (a.kind == ActionKind::onMiss) return a;
   a.keyId = U16(parseNumber(w[2], "key id", 0xFFFF));
   a.rwId = U16(parseNumber(w[3], "rewrite id", 0xFFFF));
   a.prot = U8(parseNumber(w[4], "protocol", 0xFF));
   a.frag = U8(parseNumber(w[5], "fragment", 0xFF));
   a.target = U16(parseNumber(w[6], a.kind == ActionKind::hit ? "next hop" : "ECMP group", 0xFFFF));
   return a;
}

// The text form with 'match': None: the default entry as `show --text` prints it.
std::optional<ActionValues> defaultOfText(std::string_view line) {
   if (line.find("'match': None") == std::string_view::npos) return std::nullopt;
   BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry entry;
   try {
      entry = Zin::strepToValue<BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry>(std::string(line));
   } catch (Zin::Exception const& e) {
      throw InputError("not a table entry: " + cut(e.what(), 160));
   }
   if (entry.match()) return std::nullopt;
   if (!entry.action()) throw InputError("the entry has neither a match nor an action");
   std::optional<ActionValues> const a = actionValuesOf(*entry.action());
   if (!a) throw InputError("the action's class does not fit its actionType");
   return a;
}

}  // namespace

std::optional<Update> parseLoadLine(std::string_view line) {
   line = trimmed(line);
   if (line.empty() || line[0] == '#') return std::nullopt;
   bool const remove = line[0] == '-';
   if (remove) {
      line = trimmed(line.substr(1));
      if (line.empty())
         throw InputError("a delete line names an entry: - DST SRC VRF, or - default");
   }
   Columns const w = splitColumns(line);
   if (w[0] == "default") {
      if (remove) {
         if (w.size() != 1) throw InputError("'- default' takes nothing after it");
         return Update{UpdateKind::defaultReset, {}};
      }
      return Update{UpdateKind::defaultSet, {{}, defaultAction(w)}};
   }
   bool const text = line.substr(0, 6) == "Value(";
   if (text) {
      if (std::optional<ActionValues> const a = defaultOfText(line)) {
         return remove ? Update{UpdateKind::defaultReset, {}}
                       : Update{UpdateKind::defaultSet, {{}, *a}};
      }
   }
   if (remove && w.size() == 3) {
      EntrySpec e;
      e.match.dip = parseIpv4(w[0], "destination");
      e.match.sip = parseIpv4(w[1], "source");
      if (w[2] != "-") {
         e.match.vrf = U16(parseNumber(w[2], "VRF", 0xFFFF));
         e.match.vrfGiven = true;
      }
      return Update{UpdateKind::remove, e};
   }
   EntrySpec const e = text ? parseEntryLine(line) : parseColumns(w);
   return remove ? Update{UpdateKind::remove, {e.match, {}}} : Update{UpdateKind::program, e};
}

std::string loadLineOf(Update const& u) {
   auto const action = [](ActionValues const& a) {
      std::string t(actionName(a.kind));
      if (a.kind == ActionKind::onMiss) return t;
      for (unsigned v : {unsigned(a.keyId), unsigned(a.rwId), unsigned(a.prot), unsigned(a.frag),
                         unsigned(a.target)})
         (t += ' ') += std::to_string(v);
      return t;
   };
   auto const key = [](MatchKey const& k) {
      return dotted(k.dip) + " " + dotted(k.sip) + " " + (k.vrfGiven ? std::to_string(k.vrf) : "-");
   };
   switch (u.kind) {
      case UpdateKind::defaultSet:
         return "default " + action(u.entry.action);
      case UpdateKind::defaultReset:
         return "- default";
      case UpdateKind::remove:
         return "- " + key(u.entry.match);
      default:
         return key(u.entry.match) + " " + action(u.entry.action);
   }
}

}  // namespace TwiceNatCli
