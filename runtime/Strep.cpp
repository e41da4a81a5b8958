#include "Zin/Strep.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "StrepForm.h"

namespace Zin {

using namespace strep;

namespace {

// Objects being printed on this thread, outermost first. Kept per thread rather than passed
// down because value types print their own fields through the public entry points.
thread_local std::vector<PtrInterface const*> tPrinting;

void quotedAppend(String& out, String const& s) {
   static constexpr char kHex[] = "0123456789abcdef";
   out += '\'';
   for (char ch : s) {
      auto c = static_cast<unsigned char>(ch);
      switch (c) {
         case '\\':
            out += "\\\\";
            break;
         case '\'':
            out += "\\'";
            break;
         case '\n':
            out += "\\n";
            break;
         case '\r':
            out += "\\r";
            break;
         case '\t':
            out += "\\t";
            break;
         default:
            if (c >= 0x20 && c < 0x7f) {
               out += ch;
            } else {
               out += "\\x";
               out += kHex[c >> 4];
               out += kHex[c & 0xf];
            }
      }
   }
   out += '\'';
}

void numberAppend(String& out, U64 n) {
   char digits[20];
   auto const end = std::to_chars(digits, digits + sizeof digits, n).ptr;
   out.append(digits, end);
}

void enumeratorAppend(String& out, Value const& v) {
   TypeDescriptor const* t = v.type();
   U64 n = v.asNumber();
   if (t && t->enumTable) {
      for (EnumRow const& row : t->enumTable->rows) {
         if (row.value == n) {
            out += row.name;
            return;
         }
      }
   }
   // A number outside the table still prints, so that a bad object can be shown.
   numberAppend(out, n);
}

}  // namespace

void objectStrepAppend(String& out, PtrInterface const* obj) {
   if (!obj) {
      out += kNoneStrep;
      return;
   }
   TypeDescriptor const* t = obj->fwkType();
   if (std::find(tPrinting.begin(), tPrinting.end(), obj) != tPrinting.end() ||
       tPrinting.size() >= kMaxDepth) {
      throw ValueTypeException("cannot print an object of " + t->name() +
                               " that refers back to itself");
   }
   tPrinting.push_back(obj);
   struct Pop {
      ~Pop() { tPrinting.pop_back(); }
   } pop;
   out.append(kObjectOpen).append(t->name()).append(kNameClose);
   bool first = true;
   for (AttributeDescriptor const* a : t->attributes()) {
      if (a->kind != AttributeDescriptor::Kind::field || !a->get) continue;
      if (a->given && !a->given(*obj)) continue;
      if (!first) out += kSeparator;
      first = false;
      out.append(kKeyOpen).append(a->name).append(kKeyClose);
      valueStrepAppend(out, a->get(*obj));
   }
   out += kClose;
}

String objectToStrep(PtrInterface const* obj) {
   String out;
   objectStrepAppend(out, obj);
   return out;
}

void valueStrepAppend(String& out, Value const& v) {
   switch (v.kind()) {
      case Value::Kind::none:
         out += kNoneStrep;
         return;
      case Value::Kind::boolean:
         out += v.asBool() ? kTrue : kFalse;
         return;
      case Value::Kind::number:
         numberAppend(out, v.asNumber());
         return;
      case Value::Kind::string:
         quotedAppend(out, v.asString());
         return;
      case Value::Kind::object:
         objectStrepAppend(out, v.asObject().ptr());
         return;
      case Value::Kind::enumeration:
         enumeratorAppend(out, v);
         return;
      case Value::Kind::opaque:
         if (!v.type() || !v.type()->strep) {
            throw ValueTypeException("type " + (v.type() ? v.type()->name() : String("?")) +
                                     " has no text form");
         }
         out += v.type()->strep(v);
         return;
   }
   throw ValueTypeException("value of unknown kind has no text form");
}

String valueToStrep(Value const& v) {
   String out;
   valueStrepAppend(out, v);
   return out;
}

}  // namespace Zin
