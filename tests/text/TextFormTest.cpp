// The runtime's generic interface over a probe class (attributes, operations and bindings by
// name, and the text of counted objects), and the table entry's own text form: round trips, and
// every failure at the place it arises.
#include <gtest/gtest.h>

#include <sstream>
#include <typeinfo>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "support/TableRig.h"

namespace {

using namespace BfTwiceNatAddrOnly;

// Failure rows: the exact class of the error, a piece of its message, and where a parse error
// must be reported (-1 for errors without a position).
using Kind = std::type_info const*;
Kind const missing = &typeid(Zin::MissingStringException),
           convert = &typeid(Zin::ValueTypeException),
           range = &typeid(Zin::AttributeRangeException),
           mismatch = &typeid(Zin::AttributeMismatchException),
           notFound = &typeid(Zin::AttributeNotFoundException),
           parse = &typeid(Zin::ParseException), unconsumed = &typeid(Zin::UnconsumedDataException);

struct FailCase {
   std::string text;
   Kind kind;
   std::string fragment;
   long position = -1;
};

void expectFailure(FailCase const& c, auto const& parse) {
   SCOPED_TRACE(c.text);
   try {
      parse(c.text);
      ADD_FAILURE() << "parsed";
   } catch (Zin::Exception const& e) {
      EXPECT_TRUE(typeid(e) == *c.kind) << "wrong kind of error: " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.fragment), std::string::npos) << e.what();
      auto const* p = dynamic_cast<Zin::ParseException const*>(&e);
      EXPECT_TRUE(c.position < 0 || (p && long(p->position()) == c.position)) << e.what();
   }
}

// A probe class with every kind of field.
// clang-format off
#define PROBE_FIELD(T, f) \
   T f() const { return f##_; } void f##Is(T v) { f##_ = std::move(v); } T f##_ = {};
// clang-format on
class Probe : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<Probe>;
   using PtrConst = Pemra::Ptr<Probe const>;
   PROBE_FIELD(U8, small)
   PROBE_FIELD(Zin::String, label)
   PROBE_FIELD(bool, flag)
   PROBE_FIELD(Ptr, inner)
   U16 serial() const { return 7; }
   PtrConst peer_;
   PtrConst peer() const { return peer_; }
   PtrConst peerIs(U8 small) {
      Ptr p = new Probe;
      p->smallIs(small);
      return peer_ = p;
   }
   PtrConst peerDel() { return std::exchange(peer_, nullptr); }
   U32 scaled(U16 factor, bool negate) const {
      return negate ? ~(small_ * factor) : small_ * factor;
   }
   void reset() { small_ = 0; }
   static Zin::TypeDescriptor const& type();
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }
   ZIN_ALLOCATED(Probe)
};

Zin::TypeDescriptor const& Probe::type() {
   static auto const& t =
       Zin::ClassBuilder<Probe>("TextTest::Probe", &Zin::ptrInterfaceType())
           .creatable()
           .field("small", &Probe::small, &Probe::smallIs)
           .field("label", &Probe::label, &Probe::labelIs)
           .field("flag", &Probe::flag, &Probe::flagIs)
           .field("inner", &Probe::inner, &Probe::innerIs)
           .readOnly("serial", &Probe::serial)
           .binding("peer", &Probe::peer, {"small"}, &Probe::peerIs, &Probe::peerDel)
           .operation("scaled", {"factor", "negate"}, &Probe::scaled)
           .operation("reset", {}, &Probe::reset)
           .done();
   [[maybe_unused]] static bool const registered =
       (Zin::TypeRegistry::instance().moduleIs("TextTest", {&t}), true);
   return t;
}

std::string probeText(std::string const& fields) {
   return "Object('TextTest::Probe', ** {" + fields + "})";
}
std::string nestedProbes(int depth) {
   return depth ? probeText("'inner': " + nestedProbes(depth - 1)) : "None";
}
std::string const kDefaultProbe =
    probeText("'small': 0, 'label': '', 'flag': False, 'inner': None, 'serial': 7, 'peer': None");

TEST(Attributes, ReadSetCallAndBindByName) {
   using Zin::Value;
   Probe::Ptr w = new Probe;
   // (Sets by name that work or meet a read-only attribute are the helper's and table's tests.)
   EXPECT_THROW(Zin::attributeIs(*w, "small", Value::number(256)), Zin::RangeException);
   EXPECT_THROW(Zin::attributeIs(*w, "small", Value::string("80")), Zin::ValueTypeException);
   EXPECT_THROW(Zin::attribute(*w, "reset"), Zin::AttributeNotFoundException);
   EXPECT_THROW(Zin::attributeIs(*w, "nope", Value()), Zin::AttributeNotFoundException);

   w->smallIs(100);
   auto scaled = [&](std::vector<Value> args) { return Zin::operationCall(*w, "scaled", args); };
   EXPECT_EQ(scaled({Value::number(3), Value::boolean(false)}).asNumber(), 300u);
   EXPECT_EQ(scaled({Value::number(1), Value::boolean(true)}).asNumber(), ~100u);
   EXPECT_TRUE(Zin::operationCall(*w, "reset", {}).isNone() && w->small() == 0);
   EXPECT_THROW(scaled({Value::number(3)}), Zin::ValueTypeException);
   EXPECT_THROW(scaled({Value::boolean(true), Value::number(3)}), Zin::ValueTypeException);
   EXPECT_THROW(Zin::operationCall(*w, "small", {}), Zin::AttributeNotFoundException);

   // Instantiating without arguments and clearing are the table's and helper's own tests.
   Value peer = Zin::attributeInstantiate(*w, "peer", {Value::number(77)});
   EXPECT_EQ(Zin::valueAs<Probe::PtrConst>(peer)->small(), 77u);
   EXPECT_TRUE(Zin::attributeDel(*w, "peer").asObject() == peer.asObject() && !w->peer());
   EXPECT_THROW(Zin::attributeDel(*w, "serial"), Zin::AttributeReadOnlyException);
}

TEST(ObjectText, PrintsAndReadsBackEveryKindOfField) {
   Probe::Ptr outer = new Probe;
   outer->smallIs(255);
   outer->labelIs(std::string("it's a \\ path\n\t\r\x01\xff"));
   outer->flagIs(true);
   outer->innerIs(new Probe);
   Zin::String const text = Zin::objectToStrep(outer.ptr());
   EXPECT_EQ(text, probeText("'small': 255, 'label': 'it\\'s a \\\\ path\\n\\t\\r\\x01\\xff', "
                             "'flag': True, 'inner': " +
                             kDefaultProbe + ", 'serial': 7, 'peer': None"));
   Zin::CharRange in(text);
   auto parsed = Zin::sequenceToObject<Probe>(in, Probe::type());
   EXPECT_TRUE(in.empty());
   ASSERT_TRUE(parsed);
   EXPECT_EQ(Zin::objectToStrep(parsed.ptr()), text);

   // Fields the text leaves out keep their defaults.
   std::string const some = probeText("'flag': True");
   Zin::CharRange someIn(some);
   EXPECT_EQ(Zin::objectToStrep(Zin::sequenceToObject(someIn)),
             std::string(kDefaultProbe).replace(kDefaultProbe.find("False"), 5, "True"));

   outer->innerIs(outer);
   EXPECT_THROW(Zin::objectToStrep(outer.ptr()), Zin::ValueTypeException);
   outer->innerIs(nullptr);  // breaks the cycle so that the probe is freed
}

constexpr char kOpen[] = "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {";
constexpr char kMatch[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 1, "
    "'outerIpv4HdrSip': 2, 'isSet': 0, 'l3InfoVrfIdIsSet': False})";
constexpr char kAction[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec', ** {'actionType': "
    "twiceNatAddrOnlyHitActionSpec, 'frag': 1, 'keyId': 2, 'prot': 3, 'rwId': 4, 'nextHop': 5})";

std::string entryText(std::string const& match, std::string const& action) {
   return std::string(kOpen) + "'match': " + match + ", 'action': " + action + "})";
}
std::string objectText(char const* cls, std::string const& fields) {
   return "Object('BfTwiceNatAddrOnly::" + std::string(cls) + "', ** {" + fields + "})";
}
std::string const kGood = entryText(kMatch, kAction);
long const kOpenLen = sizeof(kOpen) - 1, kGoodLen = long(kGood.size());

TEST(EntryText, EveryShapeOfEntryPrintsAndParsesBack) {
   using tabletest::actionOf, tabletest::matchOf;
   auto const hit = twiceNatAddrOnlyHitActionSpec, ecmp = twiceNatAddrOnlyHitEcmpActionSpec;
   U32 const max32 = 0xffffffff;
   U16 const max16 = 0xffff;
   struct {
      TwiceNatAddrOnlyMatchSpec::PtrConst match;
      TwiceNatAddrOnlyBaseActionSpec::PtrConst action;
   } const rows[] = {
       // Zeros with the VRF never given, the VRF given as 0 with the plain base spec, maxima,
       // nulls (each printed and read on its own).
       {matchOf(0, 0), actionOf(onMissActionSpec)},
       {matchOf(0, 0, 0), twiceNatAddrOnlyBaseActionSpecFactory()},
       {matchOf(max32, max32, max16), actionOf(hit, max16, max16, 255, 255, max16)},
       {matchOf(max32, max32, max16), actionOf(ecmp, max16, max16, 255, 255, max16)},
       {nullptr, nullptr},
   };
   std::vector<std::string> texts;
   for (auto const& c : rows) {
      TwiceNatAddrOnlyTableEntry entry(c.match);
      entry.actionIs(c.action);
      Pemra::String const text = valueToStrep(entry);
      SCOPED_TRACE(text);
      texts.push_back(text);
      EXPECT_EQ((std::ostringstream() << entry).str(), text);

      // Same text, so the same classes and values, but new objects.
      auto parsed = Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(text);
      EXPECT_EQ(valueToStrep(parsed), text);
      EXPECT_EQ(isEq(parsed, entry), entry.empty());
      EXPECT_TRUE(!c.match || parsed.match() != entry.match());
      EXPECT_TRUE(!entry.action() || parsed.action() != entry.action());

      // Inside other text, the range constructor and the generic reader stop after the entry.
      Pemra::String const followed = text + "})";
      Zin::CharRange in(followed), viaType(followed);
      EXPECT_EQ(valueToStrep(TwiceNatAddrOnlyTableEntry(in)), text);
      EXPECT_EQ(Zin::valueToStrep(Zin::sequenceToValue(viaType)), text);
      EXPECT_EQ(std::string(in.rest()) + std::string(viaType.rest()), "})})");
      EXPECT_EQ(Zin::valueToStrep(Zin::strepToValue(twiceNatAddrOnlyTableEntryType(), text)), text);
   }
   // A VRF never given is left out; one given as 0 is printed, and isSet follows it. The hand-
   // written texts below pin the rest of the format.
   EXPECT_NE(texts[0].find("'outerIpv4HdrSip': 0, 'isSet': 0, 'l3InfoVrfIdIsSet': False}"),
             std::string::npos);
   EXPECT_NE(texts[1].find("'l3InfoVrfId': 0, 'isSet': 1, 'l3InfoVrfIdIsSet': True}"),
             std::string::npos);
   EXPECT_EQ(texts[4], std::string(kOpen) + "'match': None, 'action': None})");
}

// Bad probe and entry texts, each refused where it goes wrong. Texts with a match are entries,
// read as a whole string; the others go through the generic object reader.
TEST(Text, RejectsBadTextAtThePlaceItGoesWrong) {
   Probe::type();
   std::string const open = kOpen;
   std::string const vrf =
       entryText(objectText("TwiceNatAddrOnlyMatchSpec", "'l3InfoVrfId': 65536"), kAction);
   std::string const isSet =
       entryText(objectText("TwiceNatAddrOnlyMatchSpec", "'isSet': 1"), "None");
   std::string const kind =
       entryText(kMatch, objectText("OnMissActionSpec", "'actionType': dropActionSpec"));
   auto at = [](std::string const& text, char const* piece) { return long(text.find(piece)); };
   std::vector<FailCase> const failures = {
       {probeText("'label': 'a\\qb'"), parse, "bad escape", 41},
       {probeText("'label': '\\x4'"), parse, "bad escape", 40},
       {probeText("'label': 'abc"), parse, "unterminated", 39},
       {probeText("'flag': 1"), convert,
        "attribute 'flag' of class TextTest::Probe at position 38: cannot convert a number to a "
        "flag"},
       {probeText("'flag': True, 'small': 1"), parse, "'small' repeated or out of order", 44},
       {probeText("'small': "), parse, "expected a value", 39},
       {probeText("'small': 1,'flag': True"), missing, "\"})\"", 40},
       {"Object('Zin::PtrInterface', ** {})", parse, "cannot be built"},
       {"Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {})", parse, "no class", 8},
       {nestedProbes(65), parse, "nested deeper"},
       {"value" + kGood.substr(5), missing, "expected \"" + open + "\"", 0},
       {open + "'match': " + kMatch + ", 'actions': None})", missing, "\", 'action': \"",
        kOpenLen + 9 + long(sizeof(kMatch)) - 1},
       {kGood.substr(0, kGoodLen - 1), missing, "\"})\"", kGoodLen - 2},
       {entryText(kAction, "None"), convert,
        "cannot convert BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec to "
        "BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec"},
       {entryText(kMatch, kMatch), convert,
        "MatchSpec to BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec"},
       {vrf, range,
        "attribute 'match.l3InfoVrfId': value 65536 does not fit in 16 bits at position " +
            std::to_string(at(vrf, "65536"))},
       {entryText(kMatch,
                  objectText("TwiceNatAddrOnlyHitActionSpec", "'nextHop': 18446744073709551616")),
        range, "'action.nextHop': number at position"},
       {kind, range,
        "'action.actionType': BfTwiceNatAddrOnly::TwiceNatAddrOnlyActionSpecType name expected at "
        "position " +
            std::to_string(at(kind, "drop"))},
       {isSet, mismatch, "cannot be set; it is 0, not 1", at(isSet, "1})")},
       {entryText(kMatch, objectText("OnMissActionSpec", "'nextHop': 1")), notFound,
        "has no attribute 'nextHop'"},
       {entryText(objectText("Nothing", ""), "None"), parse,
        "no class named 'BfTwiceNatAddrOnly::Nothing'", kOpenLen + 9 + 8},
       {kGood + "x", unconsumed, "unconsumed", kGoodLen},
   };
   for (auto const& c : failures) {
      expectFailure(c, [](std::string const& t) {
         if (t.find("'match': ") != std::string::npos)
            return void(Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(t));
         Zin::CharRange in(t);
         Zin::sequenceToObject(in);
      });
   }
   std::string const deepest = nestedProbes(64);  // as deep as the limit still reads
   Zin::CharRange in(deepest);
   EXPECT_TRUE(Zin::sequenceToObject(in));
}

}  // namespace
