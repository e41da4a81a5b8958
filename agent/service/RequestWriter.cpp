// Requests written as the socket carries them: straight into the line's text.
#include "agent/service/RequestCodec.h"

#include "agent/service/EntryFields.h"

namespace TwiceNatService {

namespace {

void appendFilter(std::string& out, ShowFilter const& f) {
   out += ",\"filter\":{";
   auto const address = [&out](char const* name, std::optional<U32> a) {
      if (!a) return;
      if (out.back() != '{') out += ',';
      ((out += '"') += name) += "\":";
      appendString(out, dotted(*a));
   };
   address("dst", f.key.dip);
   address("src", f.key.sip);
   if (f.key.vrf) {
      if (out.back() != '{') out += ',';
      out += "\"vrf\":";
      appendNumber(out, *f.key.vrf);
   }
   if (f.action) {
      if (out.back() != '{') out += ',';
      ((out += "\"action\":\"") += actionKindName(*f.action)) += '"';
   }
   out += '}';
}

}  // namespace

std::string encodeRequest(Request const& r) {
   std::string out = "{\"v\":";
   appendNumber(out, kProtocolVersion);
   ((out += ",\"op\":\"") += opName(r.op)) += '"';
   switch (r.op) {
      case Op::get:
         out += ",\"keys\":[";
         for (MatchKey const& k : r.keys) {
            if (out.back() != '[') out += ',';
            out += '{';
            appendKey(out, k);
            out += '}';
         }
         out += ']';
         if (r.withDefault) out += ",\"default\":true";
         break;
      case Op::show:
         if (r.filter.any()) appendFilter(out, r.filter);
         if (r.pageSize) {
            out += ",\"pageSize\":";
            appendNumber(out, r.pageSize);
         }
         break;
      case Op::insert:
      case Op::modify:
      case Op::program:
         out += ",\"entry\":{";
         appendKey(out, r.entry.match);
         appendAction(out, r.entry.action);
         out += '}';
         break;
      case Op::defaultSet:
         out += ",\"entry\":{";
         appendAction(out, r.entry.action);
         out += '}';
         break;
      case Op::remove:
         out += ",\"key\":{";
         appendKey(out, r.entry.match);
         out += '}';
         break;
      case Op::apply:
      case Op::begin:
         ((out += ",\"mode\":\"") += modeName(r.mode)) += '"';
         if (r.expect) (out += ",\"expect\":") += std::to_string(r.expect);
         if (r.op == Op::begin) break;
         [[fallthrough]];
      case Op::part:
         out += ",\"updates\":[";
         for (Update const& u : r.updates)
            appendUpdate(out, u);
         out += ']';
         break;
      default:
         break;
   }
   out += "}\n";
   return out;
}

}  // namespace TwiceNatService
