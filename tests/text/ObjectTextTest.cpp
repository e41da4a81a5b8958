// The runtime's generic text of counted objects, on a probe class with every kind of field.
#include <gtest/gtest.h>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyActionSpecType.h"
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"
#include "TextTestSupport.h"

namespace {

using BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType;
using TextTest::Failure;

class Probe : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Probe>;

   U8 small() const { return small_; }
   void smallIs(U8 v) { small_ = v; }
   Zin::String label() const { return label_; }
   void labelIs(Zin::String v) { label_ = std::move(v); }
   bool flag() const { return flag_; }
   void flagIs(bool v) { flag_ = v; }
   TwiceNatAddrOnlyActionSpecType kind() const { return kind_; }
   void kindIs(TwiceNatAddrOnlyActionSpecType v) { kind_ = v; }
   Ptr inner() const { return inner_; }
   void innerIs(Ptr v) { inner_ = std::move(v); }
   U16 serial() const { return 7; }

   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

   ZIN_ALLOCATED(Probe)

 private:
   U8 small_ = 0;
   Zin::String label_;
   bool flag_ = false;
   TwiceNatAddrOnlyActionSpecType kind_ = BfTwiceNatAddrOnly::onMissActionSpec;
   Ptr inner_;
};

Zin::TypeDescriptor const& Probe::type() {
   static Zin::TypeDescriptor const& d = [] {
      auto const& t = Zin::ClassBuilder<Probe>("TextTest::Probe", &Zin::ptrInterfaceType())
                          .creatable()
                          .field("small", &Probe::small, &Probe::smallIs)
                          .field("label", &Probe::label, &Probe::labelIs)
                          .field("flag", &Probe::flag, &Probe::flagIs)
                          .field("kind", &Probe::kind, &Probe::kindIs)
                          .field("inner", &Probe::inner, &Probe::innerIs)
                          .readOnly("serial", &Probe::serial)
                          .done();
      Zin::TypeRegistry::instance().moduleIs("TextTest", {&t});
      return std::ref(t);
   }();
   return d;
}

constexpr char kDefaultProbe[] =
    "Object('TextTest::Probe', ** {'small': 0, 'label': '', 'flag': False, 'kind': "
    "onMissActionSpec, 'inner': None, 'serial': 7})";

TEST(ObjectText, NullPointerIsNone) {
   EXPECT_EQ(Zin::objectToStrep(nullptr), "None");
   EXPECT_EQ(Zin::valueToStrep(Zin::Value::object(nullptr)), "None");
   Zin::CharRange in("None, more");
   EXPECT_FALSE(Zin::sequenceToObject(in));
   EXPECT_EQ(in.rest(), ", more");
}

TEST(ObjectText, PrintsAndReadsBackEveryKindOfField) {
   Probe::type();
   Probe::Ptr outer = new Probe;
   outer->smallIs(255);
   outer->labelIs(std::string("it's a \\ path\n\t\r\x01\xff"));
   outer->flagIs(true);
   outer->kindIs(BfTwiceNatAddrOnly::twiceNatAddrOnlyHitEcmpActionSpec);
   outer->innerIs(new Probe);
   Zin::String const text = Zin::objectToStrep(outer.ptr());
   EXPECT_EQ(text,
             "Object('TextTest::Probe', ** {'small': 255, 'label': 'it\\'s a \\\\ path\\n\\t\\r"
             "\\x01\\xff', 'flag': True, 'kind': twiceNatAddrOnlyHitEcmpActionSpec, 'inner': " +
                 std::string(kDefaultProbe) + ", 'serial': 7})");

   Zin::CharRange in(text);
   auto parsed = Zin::sequenceToObject<Probe>(in, Probe::type());
   EXPECT_TRUE(in.empty());
   ASSERT_TRUE(parsed && parsed->inner());
   EXPECT_EQ(parsed->label(), outer->label());
   EXPECT_EQ(parsed->kind(), outer->kind());
   EXPECT_NE(parsed->inner(), outer->inner());
   EXPECT_EQ(Zin::objectToStrep(parsed.ptr()), text);
}

TEST(ObjectText, OmittedFieldsKeepTheirDefaults) {
   Probe::type();
   Zin::CharRange in("Object('TextTest::Probe', ** {'flag': True})");
   auto parsed = Zin::sequenceToObject<Probe>(in, Probe::type());
   ASSERT_TRUE(parsed);
   EXPECT_TRUE(parsed->flag());
   EXPECT_EQ(parsed->small(), 0);
}

TEST(ObjectText, MatchSpecLeavesOutAVrfNeverGiven) {
   auto m = BfTwiceNatAddrOnly::twiceNatAddrOnlyMatchSpecFactory();
   EXPECT_EQ(Zin::objectToStrep(m.ptr()),
             "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 0, "
             "'outerIpv4HdrSip': 0, 'isSet': 0, 'l3InfoVrfIdIsSet': False})");
}

TEST(ObjectText, RefusesToPrintACycle) {
   Probe::Ptr p = new Probe;
   p->innerIs(p);
   EXPECT_THROW(Zin::objectToStrep(p.ptr()), Zin::ValueTypeException);
   p->innerIs(nullptr);  // breaks the cycle so that the probe is freed
}

std::string probeText(std::string const& fields) {
   return "Object('TextTest::Probe', ** {" + fields + "})";
}

std::string nestedProbes(int depth) {
   std::string text = "None";
   for (int i = 0; i < depth; ++i)
      text = probeText("'inner': " + text);
   return text;
}

std::vector<TextTest::FailCase> const kFailures = {
    {"bad escape", probeText("'label': 'a\\qb'"), Failure::parse, "bad escape", 41},
    {"short hex escape", probeText("'label': '\\x4'"), Failure::parse, "bad escape", 40},
    {"unterminated string", probeText("'label': 'abc"), Failure::parse, "unterminated", 39},
    {"number too wide for its field", probeText("'small': 256"), Failure::range,
     "attribute 'small': value 256 does not fit in 8 bits at position 39"},
    {"range error in a nested object", probeText("'inner': " + probeText("'small': 300")),
     Failure::range, "attribute 'inner.small'"},
    {"unknown enumerator", probeText("'kind': bright"), Failure::range, "attribute 'kind'"},
    {"read-only field that disagrees", probeText("'serial': 8"), Failure::mismatch,
     "it is 7, not 8", 40},
    {"number for a flag", probeText("'flag': 1"), Failure::convert,
     "attribute 'flag' of class TextTest::Probe at position 38: cannot convert a number to a flag"},
    {"wrong class nested",
     probeText("'inner': " + std::string("Object('BfTwiceNatAddrOnly::OnMissActionSpec', ** {})")),
     Failure::convert, "attribute 'inner'"},
    {"keys out of order", probeText("'flag': True, 'small': 1"), Failure::parse,
     "'small' repeated or out of order", 44},
    {"key repeated", probeText("'small': 1, 'small': 1"), Failure::parse, "repeated", 42},
    {"unknown key", probeText("'large': 1"), Failure::notFound, "has no attribute 'large'"},
    {"no value", probeText("'small': "), Failure::parse, "expected a value", 39},
    {"separator without blank", probeText("'small': 1,'flag': True"), Failure::missing, "\"})\"",
     40},
    {"class that cannot be built", "Object('Zin::PtrInterface', ** {})", Failure::parse,
     "cannot be built"},
    {"value type named as a class",
     "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {})", Failure::parse, "no class",
     8},
    {"nesting too deep", nestedProbes(65), Failure::parse, "nested deeper"},
};

TEST(ObjectText, RejectsBadTextAtThePlaceItGoesWrong) {
   Probe::type();
   for (auto const& c : kFailures) {
      TextTest::expectFailure(c, [](std::string const& t) {
         Zin::CharRange in(t);
         Zin::sequenceToObject(in);
      });
   }
   // As deep as the limit still reads.
   std::string const deepest = nestedProbes(64);
   Zin::CharRange in(deepest);
   EXPECT_TRUE(Zin::sequenceToObject(in));
}

}  // namespace
