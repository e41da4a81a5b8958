#pragma once
// The type registry: one descriptor per registered class, enumeration and value type, with
// each class's attributes in declaration order. The generic attribute interface below reads,
// sets, instantiates, clears and calls them by name.
#include <any>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string_view>
#include <tuple>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Pemra/Ptr.h"
#include "Pemra/String.h"
#include "Zin/CharRange.h"
#include "Zin/Enum.h"
#include "Zin/PtrInterface.h"
#include "Zin/Value.h"

namespace Zin {

struct AttributeDescriptor {
   enum class Kind : U8 { field, collection, operation };

   String name;
   Kind kind = Kind::field;
   // Read. Every field and collection has one.
   std::function<Value(PtrInterface const&)> get;
   // Set; empty for a read-only attribute, which the generic interface then refuses.
   std::function<void(PtrInterface&, Value const&)> set;
   // The `...Is()` form of a pointer attribute; empty when it has none.
   std::function<Value(PtrInterface&, std::vector<Value> const&)> instantiate;
   // The `...Del()` form; empty when it has none.
   std::function<Value(PtrInterface&)> clear;
   // Operations, and instantiations that take arguments: the argument names, in order.
   std::vector<String> argumentNames;
   std::function<Value(PtrInterface&, std::vector<Value> const&)> call;
   // Collections.
   std::function<Value(PtrInterface const&, Value const&)> lookup;
   std::function<void(PtrInterface&, Value const&, Value const&)> insert;
   std::function<void(PtrInterface&, Value const&)> erase;
   std::function<bool(PtrInterface const&, Value const&)> has;
   std::function<U64(PtrInterface const&)> count;
   std::function<std::vector<std::pair<Value, Value>>(PtrInterface const&)> pairs;
   // Attributes of value types (held opaquely in a Value): read, and set when settable.
   std::function<Value(std::any const&)> valueGet;
   std::function<void(std::any&, Value const&)> valueSet;
   // Text forms. An optional field that was never given is left out of its object's text;
   // empty for a field that is always given.
   std::function<bool(PtrInterface const&)> given;
   // Derived from other attributes: the object parser checks it after the sets instead of
   // setting it, and never calls its setter.
   bool derived = false;
};

class TypeDescriptor {
 public:
   enum class Kind : U8 { cls, enumeration, value };

   TypeDescriptor(String name, Kind kind, TypeDescriptor const* parent = nullptr)
       : name_(std::move(name)), kind_(kind), parent_(parent) {}
   TypeDescriptor(TypeDescriptor const&) = delete;
   TypeDescriptor& operator=(TypeDescriptor const&) = delete;

   String const& name() const { return name_; }
   Kind kind() const { return kind_; }
   TypeDescriptor const* parent() const { return parent_; }
   // True for this type and for every type it derives from.
   bool isA(TypeDescriptor const* other) const;

   std::vector<AttributeDescriptor> const& ownAttributes() const { return attributes_; }
   // Base-class attributes first, then this class's, each in declaration order. Listed on the
   // first call, after which neither this class nor its bases take more attributes.
   std::vector<AttributeDescriptor const*> const& attributes() const;
   AttributeDescriptor const* attribute(std::string_view name) const;

   // A new object with its defaults; empty for classes the runtime cannot build alone.
   std::function<Pemra::Ptr<PtrInterface>()> create;
   // Enumerations: the module's table of names and numbers.
   EnumTable const* enumTable = nullptr;
   // Value types: text form and whole-string parse; `hash` stays empty for an unhashable type.
   std::function<String(Value const&)> strep;
   std::function<Value(String const&)> fromStrep;
   // Value types: reads a value from the front of a range (a value inside an object's text).
   std::function<Value(CharRange&)> fromSequence;
   std::function<U64(Value const&)> hash;

   // Stops the process once the attributes were listed (attributes()).
   AttributeDescriptor& attributeIs(AttributeDescriptor a);
   AttributeDescriptor& lastAttribute() { return attributes_.back(); }

 private:
   String name_;
   Kind kind_;
   TypeDescriptor const* parent_;
   std::vector<AttributeDescriptor> attributes_;
   mutable std::once_flag listed_;
   mutable std::atomic<bool> sealed_{false};
   mutable std::vector<AttributeDescriptor const*> all_;
};

class TypeRegistry {
 public:
   static TypeRegistry& instance();
   // Registers a module's types; a type already registered under its name is replaced.
   void moduleIs(String const& module, std::initializer_list<TypeDescriptor const*> types);
   TypeDescriptor const* type(std::string_view name) const;
   std::vector<String> modules() const;

 private:
   std::vector<String> modules_;
   // By name; the key is the descriptor's own name.
   std::unordered_map<std::string_view, TypeDescriptor const*> types_;
};

// The generic attribute interface. Every function throws Zin::AttributeNotFoundException for a
// name the object's class does not have.
Value attribute(PtrInterface const& obj, std::string_view name);
// Refuses a read-only attribute with Zin::AttributeReadOnlyException.
void attributeIs(PtrInterface& obj, std::string_view name, Value const& value);
Value attributeInstantiate(PtrInterface& obj, std::string_view name,
                           std::vector<Value> const& args = {});
Value attributeDel(PtrInterface& obj, std::string_view name);
Value operationCall(PtrInterface& obj, std::string_view name, std::vector<Value> const& args);
Value collectionEntry(PtrInterface const& obj, std::string_view name, Value const& key);
void collectionEntryIs(PtrInterface& obj, std::string_view name, Value const& key,
                       Value const& value);
void collectionEntryDel(PtrInterface& obj, std::string_view name, Value const& key);
bool collectionEntryHas(PtrInterface const& obj, std::string_view name, Value const& key);
U64 collectionSize(PtrInterface const& obj, std::string_view name);
std::vector<std::pair<Value, Value>> collectionEntries(PtrInterface const& obj,
                                                       std::string_view name);
// Attributes of a registered value type, by name. A set of an attribute that the type gives
// only at construction is refused with Zin::AttributeReadOnlyException.
Value valueAttribute(Value const& v, std::string_view name);
void valueAttributeIs(Value& v, std::string_view name, Value const& attr);
// Hash of a value of a registered value type; Zin::UnhashableTypeException when it has none.
U64 valueHash(Value const& v);

// Descriptors of the runtime's own bases.
TypeDescriptor const& ptrInterfaceType();
TypeDescriptor const& entityType();

// Builds a class descriptor from member functions, so that each class states its attributes
// once, in declaration order.
template <class C>
class ClassBuilder {
 public:
   ClassBuilder(String name, TypeDescriptor const* parent)
       : d_(*new TypeDescriptor(std::move(name), TypeDescriptor::Kind::cls, parent)) {}

   // The runtime may build the class on its own (for parsing and copying).
   ClassBuilder& creatable() {
      d_.create = [] { return Pemra::Ptr<PtrInterface>(new C()); };
      return *this;
   }

   template <class R>
   ClassBuilder& readOnly(String name, R (C::*getter)() const) {
      d_.attributeIs(reader(std::move(name), getter));
      return *this;
   }

   template <class R, class A, class S>
   ClassBuilder& field(String name, R (C::*getter)() const, S (C::*setter)(A)) {
      AttributeDescriptor a = reader(std::move(name), getter);
      a.set = [setter](PtrInterface& o, Value const& v) {
         (self(o).*setter)(valueAs<std::decay_t<A>>(v));
      };
      d_.attributeIs(std::move(a));
      return *this;
   }

   // A pointer attribute with its `...Is()` and `...Del()` forms.
   template <class R, class P, class Q>
   ClassBuilder& pointer(String name, R (C::*getter)() const, P (C::*instantiate)(),
                         Q (C::*clear)()) {
      AttributeDescriptor a = reader(std::move(name), getter);
      a.instantiate = [instantiate](PtrInterface& o, std::vector<Value> const&) {
         return valueOf((self(o).*instantiate)());
      };
      a.clear = [clear](PtrInterface& o) { return valueOf((self(o).*clear)()); };
      d_.attributeIs(std::move(a));
      return *this;
   }

   // A pointer attribute whose `...Is` binds with arguments.
   template <class R, class P, class Q, class... A>
   ClassBuilder& binding(String name, R (C::*getter)() const, std::vector<String> argNames,
                         P (C::*bind)(A...), Q (C::*clear)()) {
      AttributeDescriptor a = reader(std::move(name), getter);
      a.argumentNames = std::move(argNames);
      a.instantiate = [bind](PtrInterface& o, std::vector<Value> const& args) {
         return invoke(o, bind, args, std::index_sequence_for<A...>());
      };
      a.clear = [clear](PtrInterface& o) { return valueOf((self(o).*clear)()); };
      d_.attributeIs(std::move(a));
      return *this;
   }

   template <class R, class... A>
   ClassBuilder& operation(String name, std::vector<String> argNames, R (C::*op)(A...)) {
      return addOperation(std::move(name), std::move(argNames), op);
   }
   template <class R, class... A>
   ClassBuilder& operation(String name, std::vector<String> argNames, R (C::*op)(A...) const) {
      return addOperation(std::move(name), std::move(argNames), op);
   }

   ClassBuilder& collection(AttributeDescriptor a) {
      a.kind = AttributeDescriptor::Kind::collection;
      d_.attributeIs(std::move(a));
      return *this;
   }

   // Marks the attribute registered last as an optional field, given when `given` holds.
   ClassBuilder& givenWhen(bool (C::*given)() const) {
      d_.lastAttribute().given = [given](PtrInterface const& o) { return (self(o).*given)(); };
      return *this;
   }
   // Marks the attribute registered last as derived from the others.
   ClassBuilder& derived() {
      d_.lastAttribute().derived = true;
      return *this;
   }

   TypeDescriptor const& done() { return d_; }

   // The object an attribute of C was asked of: nearly always of class C itself, which a type
   // comparison tells sooner than a search of the class tree.
   static C& self(PtrInterface& o) {
      if constexpr (requires(PtrInterface & p) { static_cast<C&>(p); }) {
         if (typeid(o) == typeid(C)) return static_cast<C&>(o);
      }
      return dynamic_cast<C&>(o);
   }
   static C const& self(PtrInterface const& o) { return self(const_cast<PtrInterface&>(o)); }

 private:
   template <class R>
   static AttributeDescriptor reader(String name, R (C::*getter)() const) {
      AttributeDescriptor a;
      a.name = std::move(name);
      a.get = [getter](PtrInterface const& o) { return valueOf((self(o).*getter)()); };
      return a;
   }

   template <class F>
   ClassBuilder& addOperation(String name, std::vector<String> argNames, F op) {
      AttributeDescriptor a;
      a.name = std::move(name);
      a.kind = AttributeDescriptor::Kind::operation;
      a.argumentNames = std::move(argNames);
      a.call = [op](PtrInterface& o, std::vector<Value> const& args) {
         return dispatch(o, op, args);
      };
      d_.attributeIs(std::move(a));
      return *this;
   }

   template <class R, class... A>
   static Value dispatch(PtrInterface& o, R (C::*op)(A...), std::vector<Value> const& args) {
      return invoke(o, op, args, std::index_sequence_for<A...>());
   }
   template <class R, class... A>
   static Value dispatch(PtrInterface& o, R (C::*op)(A...) const, std::vector<Value> const& args) {
      return invoke(o, op, args, std::index_sequence_for<A...>());
   }

   template <class F, std::size_t... I>
   static Value invoke(PtrInterface& o, F op, std::vector<Value> const& args,
                       std::index_sequence<I...>) {
      using Args = typename ArgsOf<F>::type;
      if (args.size() != sizeof...(I)) {
         throw ValueTypeException("expected " + std::to_string(sizeof...(I)) + " arguments, got " +
                                  std::to_string(args.size()));
      }
      if constexpr (std::is_void_v<typename ArgsOf<F>::result>) {
         (self(o).*op)(valueAs<std::tuple_element_t<I, Args>>(args[I])...);
         return Value();
      } else {
         return valueOf((self(o).*op)(valueAs<std::tuple_element_t<I, Args>>(args[I])...));
      }
   }

   template <class F>
   struct ArgsOf;
   template <class R, class... A>
   struct ArgsOf<R (C::*)(A...)> {
      using type = std::tuple<std::decay_t<A>...>;
      using result = R;
   };
   template <class R, class... A>
   struct ArgsOf<R (C::*)(A...) const> {
      using type = std::tuple<std::decay_t<A>...>;
      using result = R;
   };

   TypeDescriptor& d_;
};

}  // namespace Zin
