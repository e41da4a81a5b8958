// The type registry and the generic attribute interface over a small registered class, and the
// enumeration support.
#include <gtest/gtest.h>

#include <tuple>

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
   Zin::String label() const { return "gadget"; }
   Part::PtrConst peer() const { return peer_; }
   Part::PtrConst peerIs(U32 serial) { return peer_ = new Part(serial); }
   Part::PtrConst peerDel() { return std::exchange(peer_, nullptr); }
   U32 scaled(U16 factor, bool negate) const {
      return negate ? ~(weight_ * factor) : weight_ * factor;
   }
   void reset() { weight_ = 0; }

   Zin::TypeDescriptor const* fwkType() const override;
   ZIN_ALLOCATED(Gadget)

 private:
   U8 weight_ = 0;
   Part::PtrConst peer_;
};

Zin::TypeDescriptor const& gadgetType() {
   static Zin::TypeDescriptor const& t =
       Zin::ClassBuilder<Gadget>("RtTest::Gadget", &Zin::ptrInterfaceType())
           .creatable()
           .field("weight", &Gadget::weight, &Gadget::weightIs)
           .readOnly("label", &Gadget::label)
           .binding("peer", &Gadget::peer, {"serial"}, &Gadget::peerIs, &Gadget::peerDel)
           .operation("scaled", {"factor", "negate"}, &Gadget::scaled)
           .operation("reset", {}, &Gadget::reset)
           .done();
   return t;
}
Zin::TypeDescriptor const* Gadget::fwkType() const {
   return &gadgetType();
}
TEST(TypeRegistry, FindsClassesAndReadsSetsAndCallsAttributesByName) {
   // Base-first order over a class hierarchy shows in the entry's text forms.
   Zin::TypeRegistry::instance().moduleIs("RtTest", {&gadgetType()});
   EXPECT_EQ(Zin::TypeRegistry::instance().type("RtTest::Gadget"), &gadgetType());
   EXPECT_EQ(gadgetType().create()->fwkType(), &gadgetType());

   Gadget::Ptr w = new Gadget;
   Zin::attributeIs(*w, "weight", Value::number(255));
   EXPECT_EQ(Zin::attribute(*w, "weight").asNumber(), 255u);
   EXPECT_EQ(Zin::attribute(*w, "label").asString(), "gadget");
   EXPECT_THROW(Zin::attributeIs(*w, "weight", Value::number(256)), Zin::RangeException);
   EXPECT_THROW(Zin::attributeIs(*w, "weight", Value::string("80")), Zin::ValueTypeException);
   try {
      Zin::attributeIs(*w, "label", Value::string("x"));
      FAIL() << "a read-only attribute was set";
   } catch (Zin::AttributeReadOnlyException const& e) {
      EXPECT_STREQ(e.what(), "attribute 'label' of class RtTest::Gadget is read-only");
   }
   EXPECT_THROW(Zin::attribute(*w, "reset"), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::attributeIs(*w, "nope", Value()), Zin::AttributeNotFoundException);

   w->weightIs(100);
   auto scaled = [&](std::vector<Value> args) { return Zin::operationCall(*w, "scaled", args); };
   EXPECT_EQ(scaled({Value::number(3), Value::boolean(false)}).asNumber(), 300u);
   EXPECT_EQ(scaled({Value::number(1), Value::boolean(true)}).asNumber(), ~100u);
   EXPECT_TRUE(Zin::operationCall(*w, "reset", {}).isNone() && w->weight() == 0);
   EXPECT_THROW(scaled({Value::number(3)}), Zin::ValueTypeException);
   EXPECT_THROW(scaled({Value::boolean(true), Value::number(3)}), Zin::ValueTypeException);
   EXPECT_THROW(Zin::operationCall(*w, "weight", {}), Zin::AttributeNotFoundException);
}

// Instantiating and clearing without arguments are the table's and helper's own tests.
TEST(TypeRegistry, BindsAndClearsPointerAttributes) {
   Gadget::Ptr g = new Gadget;
   Value peer = Zin::attributeInstantiate(*g, "peer", {Value::number(77)});
   EXPECT_EQ(Zin::valueAs<Part::PtrConst>(peer)->serial(), 77u);
   EXPECT_TRUE(Zin::attribute(*g, "peer").asObject() == peer.asObject());
   EXPECT_THROW(Zin::attributeInstantiate(*g, "peer"), Zin::ValueTypeException);
   EXPECT_TRUE(Zin::attributeDel(*g, "peer").asObject() == peer.asObject() && !g->peer());
   EXPECT_THROW(Zin::attributeDel(*g, "label"), Zin::AttributeReadOnlyException);
}

TEST(Enum, ConvertsNamesAndNumbersAndReadsTheLongestNameFromARange) {
   Zin::EnumTable const colors{"RtTest::Color", {{0, "red"}, {1, "redder"}, {5, "blue"}}};
   for (auto const& row : colors.rows) {
      EXPECT_EQ(Zin::enumName(colors, row.value), row.name);
      EXPECT_EQ(Zin::enumValue(colors, row.name), row.value);
   }
   EXPECT_THROW(Zin::enumName(colors, 2), Zin::RangeException);
   EXPECT_THROW(Zin::enumValue(colors, "redd"), Zin::RangeException);
   for (auto [text, value, rest] : {std::tuple{"redder)", 1u, ")"}, {"reddish", 0u, "dish"}}) {
      Zin::CharRange in(text);
      EXPECT_EQ(Zin::enumValueFromRange(colors, in), value) << text;
      EXPECT_EQ(in.rest(), rest) << text;
   }
   Zin::CharRange bad("re");
   EXPECT_THROW(Zin::enumValueFromRange(colors, bad), Zin::RangeException);
   EXPECT_EQ(bad.position(), 0u);
}

}  // namespace
