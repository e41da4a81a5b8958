#include "Zin/Value.h"

#include "Zin/TypeRegistry.h"

namespace Zin {

namespace {
char const* kindName(Value::Kind k) {
   switch (k) {
      case Value::Kind::none:
         return "nothing";
      case Value::Kind::boolean:
         return "a flag";
      case Value::Kind::number:
         return "a number";
      case Value::Kind::string:
         return "a string";
      case Value::Kind::object:
         return "an object";
      case Value::Kind::enumeration:
         return "an enumerator";
      case Value::Kind::opaque:
         return "a value";
   }
   return "?";
}
}  // namespace

void Value::wrongKind(char const* wanted) const {
   String got = kindName(kind_);
   if (type_) got += " of " + type_->name();
   throw ValueTypeException(String("cannot convert ") + got + " to " + wanted);
}

bool Value::asBool() const {
   if (kind_ != Kind::boolean) wrongKind("a flag");
   return number_ != 0;
}

U64 Value::asNumber(unsigned bits) const {
   if (kind_ != Kind::number && kind_ != Kind::enumeration) wrongKind("a number");
   if (bits < 64 && (number_ >> bits) != 0) {
      throw RangeException("value " + std::to_string(number_) + " does not fit in " +
                           std::to_string(bits) + " bits");
   }
   return number_;
}

String const& Value::asString() const {
   if (kind_ != Kind::string) wrongKind("a string");
   return string_;
}

Pemra::Ptr<PtrInterface const> const& Value::asObject() const {
   if (kind_ != Kind::object) wrongKind("an object");
   return object_;
}

std::any const& Value::asOpaque() const {
   if (kind_ != Kind::opaque) wrongKind("a value");
   return opaque_;
}

std::any& Value::asOpaque() {
   if (kind_ != Kind::opaque) wrongKind("a value");
   return opaque_;
}

}  // namespace Zin
