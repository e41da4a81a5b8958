// The type registry and the generic attribute interface over a small registered class; values
// and the enumeration support.
#include <gtest/gtest.h>

#include <map>

#include "Zin/Enum.h"
#include "Zin/TypeRegistry.h"

namespace {

using Zin::Value;

class Part : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Part>;
   using PtrConst = Pemra::Ptr<Part const>;
   explicit Part(U32 serial = 0) : serial_(serial) {}
   U32 serial() const { return serial_; }
   ZIN_ALLOCATED(Part)

 private:
   U32 serial_;
};

class Gadget : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Gadget>;
   U8 weight() const { return weight_; }
   void weightIs(U8 w) { weight_ = w; }
   U16 port() const { return port_; }
   void portIs(U16 p) { port_ = p; }
   Zin::String label() const { return "gadget"; }
   Part::PtrConst part() const { return part_; }
   Part::Ptr partIs() {
      if (!part_) part_ = new Part;
      return part_;
   }
   Part::PtrConst partDel() { return std::exchange(part_, nullptr); }
   Part::PtrConst peer() const { return peer_; }
   Part::PtrConst peerIs(U32 serial) { return peer_ = new Part(serial); }
   Part::PtrConst peerDel() { return std::exchange(peer_, nullptr); }
   U32 scaled(U16 factor, bool negate) const { return negate ? ~(port_ * factor) : port_ * factor; }
   void reset() { weight_ = port_ = 0; }
   std::map<U32, Zin::String> slots;

   Zin::TypeDescriptor const* fwkType() const override;
   ZIN_ALLOCATED(Gadget)

 private:
   U8 weight_ = 0;
   U16 port_ = 0;
   Part::Ptr part_;
   Part::PtrConst peer_;
};

class Widget : public Gadget {
 public:
   bool on() const { return on_; }
   void onIs(bool o) { on_ = o; }
   Zin::TypeDescriptor const* fwkType() const override;
   ZIN_ALLOCATED(Widget)

 private:
   bool on_ = false;
};

Zin::AttributeDescriptor slotsCollection() {
   using GB = Zin::ClassBuilder<Gadget>;
   Zin::AttributeDescriptor a;
   a.name = "slots";
   auto key = [](Value const& k) { return Zin::valueAs<U32>(k); };
   a.lookup = [key](Zin::PtrInterface const& o, Value const& k) {
      auto const& s = GB::self(o).slots;
      auto it = s.find(key(k));
      return it == s.end() ? Value() : Value::string(it->second);
   };
   a.insert = [key](Zin::PtrInterface& o, Value const& k, Value const& v) {
      GB::self(o).slots[key(k)] = v.asString();
   };
   a.erase = [key](Zin::PtrInterface& o, Value const& k) { GB::self(o).slots.erase(key(k)); };
   a.has = [key](Zin::PtrInterface const& o, Value const& k) {
      return GB::self(o).slots.count(key(k)) != 0;
   };
   a.count = [](Zin::PtrInterface const& o) { return U64(GB::self(o).slots.size()); };
   a.pairs = [](Zin::PtrInterface const& o) {
      std::vector<std::pair<Value, Value>> out;
      for (auto const& [k, v] : GB::self(o).slots)
         out.emplace_back(Value::number(k), Value::string(v));
      return out;
   };
   return a;
}

Zin::TypeDescriptor const& gadgetType() {
   static Zin::TypeDescriptor const& t =
       Zin::ClassBuilder<Gadget>("RtTest::Gadget", &Zin::ptrInterfaceType())
           .creatable()
           .field("weight", &Gadget::weight, &Gadget::weightIs)
           .field("port", &Gadget::port, &Gadget::portIs)
           .readOnly("label", &Gadget::label)
           .pointer("part", &Gadget::part, &Gadget::partIs, &Gadget::partDel)
           .binding("peer", &Gadget::peer, {"serial"}, &Gadget::peerIs, &Gadget::peerDel)
           .operation("scaled", {"factor", "negate"}, &Gadget::scaled)
           .operation("reset", {}, &Gadget::reset)
           .collection(slotsCollection())
           .done();
   return t;
}
Zin::TypeDescriptor const& widgetType() {
   static Zin::TypeDescriptor const& t = Zin::ClassBuilder<Widget>("RtTest::Widget", &gadgetType())
                                             .field("on", &Widget::on, &Widget::onIs)
                                             .done();
   return t;
}
Zin::TypeDescriptor const* Gadget::fwkType() const {
   return &gadgetType();
}
Zin::TypeDescriptor const* Widget::fwkType() const {
   return &widgetType();
}

TEST(TypeRegistry, RegistersTypesAndListsAttributesBaseFirst) {
   Zin::TypeRegistry::instance().moduleIs("RtTest", {&gadgetType(), &widgetType()});
   EXPECT_EQ(Zin::TypeRegistry::instance().type("RtTest::Widget"), &widgetType());
   EXPECT_EQ(Zin::TypeRegistry::instance().type("RtTest::Nothing"), nullptr);
   EXPECT_EQ(Zin::TypeRegistry::instance().type("Zin::Entity"), &Zin::entityType());
   std::vector<std::string> names;
   for (auto const* a : widgetType().attributes())
      names.push_back(a->name);
   EXPECT_EQ(names, (std::vector<std::string>{"weight", "port", "label", "part", "peer", "scaled",
                                              "reset", "slots", "on"}));
   EXPECT_TRUE(widgetType().isA(&Zin::ptrInterfaceType()));
   EXPECT_FALSE(gadgetType().isA(&widgetType()));
   Zin::PtrInterface::Ptr made = gadgetType().create();
   EXPECT_EQ(made->fwkType(), &gadgetType());
}

TEST(TypeRegistry, ReadsAndSetsFieldsWithRangeAndTypeChecks) {
   Pemra::Ptr<Widget> w = new Widget;
   Zin::attributeIs(*w, "weight", Value::number(255));
   Zin::attributeIs(*w, "port", Value::number(65535));
   Zin::attributeIs(*w, "on", Value::boolean(true));
   EXPECT_TRUE(w->weight() == 255 && w->port() == 65535 && w->on());
   EXPECT_EQ(Zin::attribute(*w, "weight").asNumber(), 255u);
   EXPECT_TRUE(Zin::attribute(*w, "on").asBool());
   EXPECT_EQ(Zin::attribute(*w, "label").asString(), "gadget");
   for (auto [name, v] : {std::pair{"weight", 256ull}, {"port", 65536ull}, {"port", 1ull << 63}})
      EXPECT_THROW(Zin::attributeIs(*w, name, Value::number(v)), Zin::RangeException) << v;
   EXPECT_THROW(Zin::attributeIs(*w, "port", Value::string("80")), Zin::ValueTypeException);
   EXPECT_THROW(Zin::attributeIs(*w, "on", Value::number(1)), Zin::ValueTypeException);
   try {
      Zin::attributeIs(*w, "label", Value::string("x"));
      FAIL() << "a read-only attribute was set";
   } catch (Zin::AttributeReadOnlyException const& e) {
      EXPECT_STREQ(e.what(), "attribute 'label' of class RtTest::Widget is read-only");
   }
   for (char const* unknown : {"nope", "Weight", "", "reset"}) {
      EXPECT_THROW(Zin::attribute(*w, unknown), Zin::AttributeNotFoundException) << unknown;
      EXPECT_THROW(Zin::attributeIs(*w, unknown, Value()), Zin::AttributeNotFoundException);
   }
}

TEST(TypeRegistry, InstantiatesBindsAndClearsPointerAttributes) {
   Gadget::Ptr g = new Gadget;
   EXPECT_FALSE(Zin::attribute(*g, "part").asObject());
   Value made = Zin::attributeInstantiate(*g, "part");
   EXPECT_TRUE(made.asObject() == g->part());
   EXPECT_TRUE(Zin::attributeInstantiate(*g, "part").asObject() == made.asObject());  // kept
   EXPECT_EQ(Zin::liveObjects(Zin::typeNameOf<Part>()), 1);
   EXPECT_THROW(Zin::attributeInstantiate(*g, "part", {Value::number(1)}), Zin::ValueTypeException);

   Value peer = Zin::attributeInstantiate(*g, "peer", {Value::number(77)});
   EXPECT_EQ(Zin::valueAs<Part::PtrConst>(peer)->serial(), 77u);
   EXPECT_THROW(Zin::attributeInstantiate(*g, "peer"), Zin::ValueTypeException);
   EXPECT_THROW(Zin::attributeInstantiate(*g, "peer", {Value::string("77")}),
                Zin::ValueTypeException);
   EXPECT_THROW(Zin::valueAs<Gadget::Ptr>(peer), Zin::ValueTypeException);  // wrong class

   EXPECT_TRUE(Zin::attributeDel(*g, "part").asObject() == made.asObject());  // what it held
   EXPECT_FALSE(g->part() || Zin::attributeDel(*g, "part").asObject());
   Zin::attributeDel(*g, "peer");
   EXPECT_THROW(Zin::attributeInstantiate(*g, "weight"), Zin::AttributeReadOnlyException);
   EXPECT_THROW(Zin::attributeDel(*g, "label"), Zin::AttributeReadOnlyException);
}

TEST(TypeRegistry, CallsOperationsAndReachesCollectionsByName) {
   Gadget::Ptr g = new Gadget;
   g->portIs(300);
   auto scaled = [&](std::vector<Value> args) { return Zin::operationCall(*g, "scaled", args); };
   EXPECT_EQ(scaled({Value::number(3), Value::boolean(false)}).asNumber(), 900u);
   EXPECT_EQ(scaled({Value::number(1), Value::boolean(true)}).asNumber(), ~300u);
   EXPECT_TRUE(Zin::operationCall(*g, "reset", {}).isNone());
   EXPECT_EQ(g->port(), 0);
   for (auto const& bad :
        std::vector<std::vector<Value>>{{},
                                        {Value::number(3)},
                                        {Value::number(3), Value::boolean(true), Value::number(1)},
                                        {Value::boolean(true), Value::number(3)}})
      EXPECT_THROW(scaled(bad), Zin::ValueTypeException) << bad.size();
   EXPECT_THROW(scaled({Value::number(70000), Value::boolean(true)}), Zin::RangeException);
   EXPECT_THROW(Zin::operationCall(*g, "port", {}), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::operationCall(*g, "nope", {}), Zin::AttributeNotFoundException);

   Zin::collectionEntryIs(*g, "slots", Value::number(2), Value::string("b"));
   Zin::collectionEntryIs(*g, "slots", Value::number(1), Value::string("a"));
   Zin::collectionEntryIs(*g, "slots", Value::number(2), Value::string("B"));
   EXPECT_EQ(Zin::collectionSize(*g, "slots"), 2u);
   EXPECT_EQ(Zin::collectionEntry(*g, "slots", Value::number(2)).asString(), "B");
   EXPECT_TRUE(Zin::collectionEntry(*g, "slots", Value::number(9)).isNone());
   EXPECT_TRUE(Zin::collectionEntryHas(*g, "slots", Value::number(1)));
   auto pairs = Zin::collectionEntries(*g, "slots");
   ASSERT_EQ(pairs.size(), 2u);
   EXPECT_TRUE(pairs[0].first.asNumber() == 1 && pairs[1].second.asString() == "B");
   Zin::collectionEntryDel(*g, "slots", Value::number(1));
   EXPECT_FALSE(Zin::collectionEntryHas(*g, "slots", Value::number(1)));
   EXPECT_EQ(Zin::collectionSize(*g, "slots"), 1u);
   EXPECT_THROW(Zin::collectionSize(*g, "weight"), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::collectionEntry(*g, "nope", Value::number(1)),
                Zin::AttributeNotFoundException);
}

TEST(Value, ConvertsOnlyBetweenMatchingKindsAndHashesOnlyHashableTypes) {
   EXPECT_EQ(Zin::valueAs<U64>(Value::number(~0ull)), ~0ull);
   EXPECT_EQ(Zin::valueAs<U32>(Value::enumeration(nullptr, 2)), 2u);
   EXPECT_THROW(Zin::valueAs<bool>(Value::number(1)), Zin::ValueTypeException);
   EXPECT_THROW(Value().asString(), Zin::ValueTypeException);
   EXPECT_THROW(Value::number(1).asObject(), Zin::ValueTypeException);
   EXPECT_FALSE(Zin::valueAs<Part::Ptr>(Value::object(nullptr)));
   int x = 0;
   EXPECT_EQ(Zin::valueAs<void*>(Zin::valueOf(static_cast<void*>(&x))), &x);

   static Zin::TypeDescriptor plain("RtTest::Plain", Zin::TypeDescriptor::Kind::value);
   static Zin::TypeDescriptor keyed("RtTest::Keyed", Zin::TypeDescriptor::Kind::value);
   keyed.hash = [](Value const& v) { return std::any_cast<U32>(v.asOpaque()) * 31ull; };
   try {
      Zin::valueHash(Value::opaque(&plain, U32(1)));
      FAIL() << "an unhashable value was hashed";
   } catch (Zin::UnhashableTypeException const& e) {
      EXPECT_STREQ(e.what(), "unhashable type: 'RtTest::Plain'");
   }
   EXPECT_EQ(Zin::valueHash(Value::opaque(&keyed, U32(2))), 62u);
   EXPECT_THROW(Zin::valueHash(Value::number(2)), Zin::UnhashableTypeException);
}

TEST(Enum, ConvertsNamesAndNumbersAndReadsTheLongestNameFromARange) {
   Zin::EnumTable const colors{"RtTest::Color", {{0, "red"}, {1, "redder"}, {5, "blue"}}};
   for (auto const& row : colors.rows) {
      EXPECT_EQ(Zin::enumName(colors, row.value), row.name);
      EXPECT_EQ(Zin::enumValue(colors, row.name), row.value);
   }
   EXPECT_THROW(Zin::enumName(colors, 2), Zin::RangeException);
   for (char const* bad : {"Red", "redd", ""})
      EXPECT_THROW(Zin::enumValue(colors, bad), Zin::RangeException) << bad;
   struct {
      char const* text;
      U32 value;
      char const* rest;
   } const cases[] = {
       {"redder)", 1, ")"}, {"reddish", 0, "dish"}, {"red", 0, ""}, {"blue,red", 5, ",red"}};
   for (auto const& c : cases) {
      Zin::CharRange in(c.text);
      EXPECT_EQ(Zin::enumValueFromRange(colors, in), c.value) << c.text;
      EXPECT_EQ(in.rest(), c.rest) << c.text;
   }
   for (char const* bad : {"", "green", "re", " red"}) {
      Zin::CharRange in(bad);
      EXPECT_THROW(Zin::enumValueFromRange(colors, in), Zin::RangeException) << bad;
      EXPECT_EQ(in.position(), 0u) << bad;
   }
}

}  // namespace
