#include "Zin/Strep.h"

#include <algorithm>
#include <vector>

namespace Zin {

namespace {

constexpr std::string_view kObjectOpen = "Object('";
constexpr std::string_view kValueOpen = "Value('";
constexpr std::string_view kNameClose = "', ** {";
constexpr std::string_view kKeyOpen = "'";
constexpr std::string_view kKeyClose = "': ";
constexpr std::string_view kSeparator = ", ";
constexpr std::string_view kClose = "})";
constexpr std::string_view kTrue = "True";
constexpr std::string_view kFalse = "False";

// Deep enough for any real object graph; bounds recursion on hostile text and on cycles.
constexpr std::size_t kMaxDepth = 64;

// Objects being printed or parsed on this thread, outermost first. Kept per thread rather than
// passed down because value types print and parse their own fields through the public
// entry points.
thread_local std::vector<PtrInterface const*> tPrinting;
thread_local std::size_t tParseDepth = 0;

class DepthGuard {
 public:
   explicit DepthGuard(CharRange const& in) {
      if (tParseDepth >= kMaxDepth) {
         throw ParseException("values nested deeper than " + std::to_string(kMaxDepth),
                              in.position());
      }
      ++tParseDepth;
   }
   ~DepthGuard() { --tParseDepth; }
   DepthGuard(DepthGuard const&) = delete;
   DepthGuard& operator=(DepthGuard const&) = delete;
};

bool isWordChar(char c) {
   return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool isDigit(char c) {
   return c >= '0' && c <= '9';
}

String quoted(String const& s) {
   static constexpr char kHex[] = "0123456789abcdef";
   String out = "'";
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
   return out + "'";
}

String enumeratorStrep(Value const& v) {
   TypeDescriptor const* t = v.type();
   U64 n = v.asNumber();
   if (t && t->enumTable) {
      for (EnumRow const& row : t->enumTable->rows) {
         if (row.value == n) return row.name;
      }
   }
   // A number outside the table still prints, so that a bad object can be shown.
   return std::to_string(n);
}

// Reads a run of word characters and `extra`; empty when none stands at the front.
std::string_view wordRead(CharRange& in, char extra = '\0') {
   std::string_view rest = in.rest();
   std::size_t n = 0;
   while (n < rest.size() && (isWordChar(rest[n]) || (extra && rest[n] == extra)))
      ++n;
   in.advance(n);
   return rest.substr(0, n);
}

Value numberRead(CharRange& in) {
   std::size_t const start = in.position();
   std::string_view rest = in.rest();
   U64 n = 0;
   std::size_t i = 0;
   for (; i < rest.size() && isDigit(rest[i]); ++i) {
      auto digit = static_cast<U64>(rest[i] - '0');
      if (n > (~U64(0) - digit) / 10) {
         throw RangeException("number at position " + std::to_string(start) +
                              " does not fit in 64 bits");
      }
      n = n * 10 + digit;
   }
   in.advance(i);
   return Value::number(n);
}

int hexDigit(char c) {
   if (c >= '0' && c <= '9') return c - '0';
   if (c >= 'a' && c <= 'f') return c - 'a' + 10;
   return -1;
}

Value stringRead(CharRange& in) {
   std::size_t const start = in.position();
   stringExpect(in, "'");
   String out;
   while (true) {
      if (in.empty()) throw ParseException("unterminated string", start);
      char c = in.front();
      in.advance(1);
      if (c == '\'') return Value::string(std::move(out));
      if (c != '\\') {
         out += c;
         continue;
      }
      std::size_t const escape = in.position() - 1;
      char e = in.empty() ? '\0' : in.front();
      in.advance(1);
      switch (e) {
         case '\\':
         case '\'':
            out += e;
            break;
         case 'n':
            out += '\n';
            break;
         case 'r':
            out += '\r';
            break;
         case 't':
            out += '\t';
            break;
         case 'x': {
            std::string_view hex = in.rest().substr(0, 2);
            if (hex.size() < 2 || hexDigit(hex[0]) < 0 || hexDigit(hex[1]) < 0) {
               throw ParseException("bad escape in string", escape);
            }
            out += static_cast<char>(hexDigit(hex[0]) * 16 + hexDigit(hex[1]));
            in.advance(2);
            break;
         }
         default:
            throw ParseException("bad escape in string", escape);
      }
   }
}

// The registered type whose name follows `open` at the front, with the range left at the
// front. Throws for a name the registry does not know or of another kind.
TypeDescriptor const& typeAhead(CharRange const& in, std::string_view open,
                                TypeDescriptor::Kind kind) {
   CharRange look = in;
   stringExpect(look, open);
   std::size_t const at = look.position();
   std::string_view name = wordRead(look, ':');
   stringExpect(look, "'");
   TypeDescriptor const* t = TypeRegistry::instance().type(name);
   if (!t || t->kind() != kind) {
      throw ParseException(
          String(kind == TypeDescriptor::Kind::cls ? "no class" : "no value type") + " named '" +
              String(name) + "'",
          at);
   }
   return *t;
}

Value valueTypeRead(CharRange& in) {
   TypeDescriptor const& t = typeAhead(in, kValueOpen, TypeDescriptor::Kind::value);
   if (!t.fromSequence) {
      throw ParseException("values of type " + t.name() + " cannot be read from text",
                           in.position());
   }
   return t.fromSequence(in);
}

// A value inside an object: an enumerator attribute also takes a bare name, read with its
// type's table.
Value attributeValueRead(CharRange& in, PtrInterface const& obj, AttributeDescriptor const& a) {
   if (!in.empty() && !isDigit(in.front()) && isWordChar(in.front())) {
      Value current = a.get(obj);
      if (current.kind() == Value::Kind::enumeration && current.type() &&
          current.type()->enumTable) {
         return Value::enumeration(current.type(),
                                   enumValueFromRange(*current.type()->enumTable, in));
      }
   }
   return sequenceToValue(in);
}

struct Check {
   AttributeDescriptor const* attribute;
   String text;
   std::size_t position;
};

}  // namespace

void deserializeAttributeRethrow(RangeException const& e, std::string_view attribute) {
   if (auto const* inner = dynamic_cast<AttributeRangeException const*>(&e)) {
      throw AttributeRangeException(String(attribute) + "." + inner->attributePath(),
                                    inner->reason());
   }
   throw AttributeRangeException(String(attribute), e.what());
}

String objectToStrep(PtrInterface const* obj) {
   if (!obj) return String(kNoneStrep);
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
   String out = String(kObjectOpen) + t->name() + String(kNameClose);
   bool first = true;
   for (AttributeDescriptor const* a : t->attributes()) {
      if (a->kind != AttributeDescriptor::Kind::field || !a->get) continue;
      if (a->given && !a->given(*obj)) continue;
      if (!first) out += kSeparator;
      first = false;
      out += String(kKeyOpen) + a->name + String(kKeyClose) + valueToStrep(a->get(*obj));
   }
   return out + String(kClose);
}

String valueToStrep(Value const& v) {
   switch (v.kind()) {
      case Value::Kind::none:
         return String(kNoneStrep);
      case Value::Kind::boolean:
         return String(v.asBool() ? kTrue : kFalse);
      case Value::Kind::number:
         return std::to_string(v.asNumber());
      case Value::Kind::string:
         return quoted(v.asString());
      case Value::Kind::object:
         return objectToStrep(v.asObject().ptr());
      case Value::Kind::enumeration:
         return enumeratorStrep(v);
      case Value::Kind::opaque:
         if (!v.type() || !v.type()->strep) {
            throw ValueTypeException("type " + (v.type() ? v.type()->name() : String("?")) +
                                     " has no text form");
         }
         return v.type()->strep(v);
   }
   throw ValueTypeException("value of unknown kind has no text form");
}

void stringExpect(CharRange& in, std::string_view literal) {
   if (!in.startsWith(literal)) throw MissingStringException(literal, in.position());
   in.advance(literal.size());
}

void allDataConsumedCheck(CharRange const& in) {
   if (!in.empty()) throw UnconsumedDataException("unconsumed data", in.position());
}

void objectClassMismatch(PtrInterface const& obj, TypeDescriptor const& expected,
                         std::size_t position) {
   throw ValueTypeException("cannot convert " + obj.fwkType()->name() + " to " + expected.name() +
                            " at position " + std::to_string(position));
}

Pemra::Ptr<PtrInterface> sequenceToObject(CharRange& in) {
   if (in.startsWith(kNoneStrep)) {
      in.advance(kNoneStrep.size());
      return nullptr;
   }
   DepthGuard depth(in);
   TypeDescriptor const& t = typeAhead(in, kObjectOpen, TypeDescriptor::Kind::cls);
   if (!t.create) {
      throw ParseException("class " + t.name() + " cannot be built from text", in.position());
   }
   in.advance(kObjectOpen.size() + t.name().size());
   stringExpect(in, kNameClose);
   Pemra::Ptr<PtrInterface> obj = t.create();

   std::vector<AttributeDescriptor const*> const attributes = t.attributes();
   std::vector<Check> checks;
   std::size_t next = 0;  // keys follow declaration order, each at most once
   bool more = !in.startsWith(kClose);
   while (more) {
      std::size_t const keyAt = in.position();
      stringExpect(in, kKeyOpen);
      String key(wordRead(in));
      stringExpect(in, kKeyClose);
      auto named = [&key](AttributeDescriptor const* a) { return a->name == key; };
      auto it = std::find_if(attributes.begin() + next, attributes.end(), named);
      if (it == attributes.end()) {
         if (std::any_of(attributes.begin(), attributes.begin() + next, named)) {
            throw ParseException("attribute '" + key + "' repeated or out of order", keyAt);
         }
         throw AttributeNotFoundException("class " + t.name() + " has no attribute '" + key +
                                          "' at position " + std::to_string(keyAt));
      }
      AttributeDescriptor const& a = **it;
      if (a.kind != AttributeDescriptor::Kind::field || !a.get) {
         throw ParseException("attribute '" + key + "' of class " + t.name() + " is not a field",
                              keyAt);
      }
      next = static_cast<std::size_t>(it - attributes.begin()) + 1;

      std::size_t const valueAt = in.position();
      try {
         Value v = attributeValueRead(in, *obj, a);
         if (a.set && !a.derived) {
            try {
               a.set(*obj, v);
            } catch (AttributeRangeException const&) {
               throw;
            } catch (RangeException const& e) {
               throw RangeException(String(e.what()) + " at position " + std::to_string(valueAt));
            }
         } else {
            checks.push_back({&a, valueToStrep(v), valueAt});
         }
      } catch (RangeException const& e) {
         deserializeAttributeRethrow(e, key);
      } catch (ValueTypeException const& e) {
         throw ValueTypeException("attribute '" + key + "' of class " + t.name() + " at position " +
                                  std::to_string(valueAt) + ": " + e.what());
      }
      more = in.startsWith(kSeparator);
      if (more) in.advance(kSeparator.size());
   }
   stringExpect(in, kClose);

   // Read-only and derived attributes follow from the others: the text must agree with what
   // the sets produced.
   for (Check const& c : checks) {
      String now = valueToStrep(c.attribute->get(*obj));
      if (now != c.text) {
         throw AttributeMismatchException("attribute '" + c.attribute->name + "' of class " +
                                              t.name() + " cannot be set; it is " + now + ", not " +
                                              c.text,
                                          c.position);
      }
   }
   return obj;
}

Value sequenceToValue(CharRange& in) {
   if (in.startsWith(kNoneStrep) || in.startsWith(kObjectOpen)) {
      return Value::object(Pemra::Ptr<PtrInterface const>(sequenceToObject(in)));
   }
   if (in.startsWith(kValueOpen)) {
      DepthGuard depth(in);
      return valueTypeRead(in);
   }
   if (in.startsWith(kTrue)) {
      in.advance(kTrue.size());
      return Value::boolean(true);
   }
   if (in.startsWith(kFalse)) {
      in.advance(kFalse.size());
      return Value::boolean(false);
   }
   if (!in.empty() && isDigit(in.front())) return numberRead(in);
   if (!in.empty() && in.front() == '\'') return stringRead(in);
   throw ParseException("expected a value", in.position());
}

Value strepToValue(TypeDescriptor const& type, String const& text) {
   if (type.fromStrep) return type.fromStrep(text);
   if (type.fromSequence) {
      CharRange in(text);
      Value v = type.fromSequence(in);
      allDataConsumedCheck(in);
      return v;
   }
   throw ValueTypeException("values of type " + type.name() + " cannot be read from text");
}

}  // namespace Zin
