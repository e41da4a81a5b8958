#include "Zin/Strep.h"

#include <algorithm>
#include <array>
#include <vector>

#include "StrepForm.h"

namespace Zin {

using namespace strep;

namespace {

// Depth of the values being parsed on this thread: value types parse their own fields through
// the public entry points.
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

bool numeric(Value const& v) {
   return v.kind() == Value::Kind::number || v.kind() == Value::Kind::boolean;
}

// A read-only or derived attribute's value as the text gave it, checked once the sets are done:
// a number or flag as read (two of a kind have equal texts exactly when they are equal), any
// other value by its text.
struct Check {
   Check() = default;
   Check(AttributeDescriptor const* attribute, Value v, std::size_t position)
       : attribute(attribute), position(position) {
      if (numeric(v)) {
         read = std::move(v);
      } else {
         text = valueToStrep(v);
      }
   }
   bool agrees(Value const& now) const {
      if (numeric(read) && now.kind() == read.kind()) {
         return now.kind() == Value::Kind::boolean ? now.asBool() == read.asBool()
                                                   : now.asNumber() == read.asNumber();
      }
      return valueToStrep(now) == readText();
   }
   String readText() const { return numeric(read) ? valueToStrep(read) : text; }

   AttributeDescriptor const* attribute = nullptr;
   Value read;
   String text;
   std::size_t position = 0;
};

// The checks of one object; room for a few without the heap.
class Checks {
 public:
   void add(Check c) {
      if (n_ < inline_.size()) {
         inline_[n_++] = std::move(c);
      } else {
         more_.push_back(std::move(c));
      }
   }
   template <class F>
   void each(F f) const {
      for (std::size_t i = 0; i < n_; ++i)
         f(inline_[i]);
      for (Check const& c : more_)
         f(c);
   }

 private:
   std::array<Check, 4> inline_;
   std::size_t n_ = 0;
   std::vector<Check> more_;
};

}  // namespace

void deserializeAttributeRethrow(RangeException const& e, std::string_view attribute) {
   if (auto const* inner = dynamic_cast<AttributeRangeException const*>(&e)) {
      throw AttributeRangeException(String(attribute) + "." + inner->attributePath(),
                                    inner->reason());
   }
   throw AttributeRangeException(String(attribute), e.what());
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

bool parseDepthLeft() {
   return tParseDepth < kMaxDepth;
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

   std::vector<AttributeDescriptor const*> const& attributes = t.attributes();
   Checks checks;
   std::size_t next = 0;  // keys follow declaration order, each at most once
   bool more = !in.startsWith(kClose);
   while (more) {
      std::size_t const keyAt = in.position();
      stringExpect(in, kKeyOpen);
      std::string_view const key = wordRead(in);
      stringExpect(in, kKeyClose);
      auto named = [key](AttributeDescriptor const* a) { return a->name == key; };
      auto it = std::find_if(attributes.begin() + next, attributes.end(), named);
      if (it == attributes.end()) {
         if (std::any_of(attributes.begin(), attributes.begin() + next, named)) {
            throw ParseException("attribute '" + String(key) + "' repeated or out of order", keyAt);
         }
         throw AttributeNotFoundException("class " + t.name() + " has no attribute '" +
                                          String(key) + "' at position " + std::to_string(keyAt));
      }
      AttributeDescriptor const& a = **it;
      if (a.kind != AttributeDescriptor::Kind::field || !a.get) {
         throw ParseException(
             "attribute '" + String(key) + "' of class " + t.name() + " is not a field", keyAt);
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
            checks.add(Check(&a, std::move(v), valueAt));
         }
      } catch (RangeException const& e) {
         deserializeAttributeRethrow(e, key);
      } catch (ValueTypeException const& e) {
         throw ValueTypeException("attribute '" + String(key) + "' of class " + t.name() +
                                  " at position " + std::to_string(valueAt) + ": " + e.what());
      }
      more = in.startsWith(kSeparator);
      if (more) in.advance(kSeparator.size());
   }
   stringExpect(in, kClose);

   // Read-only and derived attributes follow from the others: the text must agree with what
   // the sets produced.
   checks.each([&](Check const& c) {
      Value const now = c.attribute->get(*obj);
      if (!c.agrees(now)) {
         throw AttributeMismatchException("attribute '" + c.attribute->name + "' of class " +
                                              t.name() + " cannot be set; it is " +
                                              valueToStrep(now) + ", not " + c.readText(),
                                          c.position);
      }
   });
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