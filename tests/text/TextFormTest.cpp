// The table entry's text form: round trips of every shape, and every failure of the runtime's
// reader and of the entry's own at the place it arises. (Attributes and operations by name are
// the front tests'.)
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

constexpr char kOpen[] = "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {";
constexpr char kMatch[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 1, "
    "'outerIpv4HdrSip': 2, 'isSet': 0, 'l3InfoVrfIdIsSet': False})";
constexpr char kAction[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec', ** {'actionType': "
    "twiceNatAddrOnlyHitActionSpec, 'frag': 1, 'keyId': 2, 'prot': 3, 'rwId': 4, 'nextHop': 5})";

// The forms above with one field out of its range or one mark that disagrees.
constexpr char kMatchWide[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 4294967296, "
    "'outerIpv4HdrSip': 2, 'isSet': 0, 'l3InfoVrfIdIsSet': False})";
constexpr char kMatchVrfMark[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 1, "
    "'outerIpv4HdrSip': 2, 'isSet': 0, 'l3InfoVrfIdIsSet': True})";
constexpr char kMatchIsSet[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 1, "
    "'outerIpv4HdrSip': 2, 'isSet': 1, 'l3InfoVrfIdIsSet': False})";
constexpr char kActionWideFrag[] =
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec', ** {'actionType': "
    "twiceNatAddrOnlyHitActionSpec, 'frag': 256, 'keyId': 2, 'prot': 3, 'rwId': 4, 'nextHop': 5})";

std::string entryText(std::string const& match, std::string const& action) {
   return std::string(kOpen) + "'match': " + match + ", 'action': " + action + "})";
}
std::string objectText(char const* cls, std::string const& fields) {
   return "Object('BfTwiceNatAddrOnly::" + std::string(cls) + "', ** {" + fields + "})";
}
std::string matchText(std::string const& fields) {
   return objectText("TwiceNatAddrOnlyMatchSpec", fields);
}
// `depth` match specs, each in the one before's destination field.
std::string nestedMatches(int depth) {
   return depth ? matchText("'outerIpv4HdrDip': " + nestedMatches(depth - 1)) : "None";
}
std::string const kGood = entryText(kMatch, kAction);
long const kOpenLen = sizeof(kOpen) - 1, kGoodLen = long(kGood.size());

TEST(EntryText, EveryShapeOfEntryPrintsAndParsesBack) {
   using tabletest::actionOf, tabletest::matchOf;
   auto const hit = twiceNatAddrOnlyHitActionSpec, ecmp = twiceNatAddrOnlyHitEcmpActionSpec;
   U32 const max32 = 0xffffffff, max16 = 0xffff;
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

      // Inside other text, the generic reader (through the entry's range constructor) stops after
      // the entry.
      Pemra::String const followed = text + "})";
      Zin::CharRange in(followed);
      EXPECT_EQ(Zin::valueToStrep(Zin::sequenceToValue(in)), text);
      EXPECT_EQ(in.rest(), "})");
      EXPECT_EQ(Zin::valueToStrep(Zin::strepToValue(twiceNatAddrOnlyTableEntryType(), text)), text);
   }
   // A VRF never given is left out; one given as 0 is printed, and isSet follows it. The hand-
   // written texts below pin the rest of the format.
   EXPECT_NE(texts[0].find("'outerIpv4HdrSip': 0, 'isSet': 0, 'l3InfoVrfIdIsSet': False}"),
             std::string::npos);
   EXPECT_NE(texts[1].find("'l3InfoVrfId': 0, 'isSet': 1, 'l3InfoVrfIdIsSet': True}"),
             std::string::npos);
   EXPECT_EQ(texts[4], std::string(kOpen) + "'match': None, 'action': None})");

   // What the reader takes beyond the printed form: leading zeros, and an actionType that is not
   // the class's own (kept as given).
   std::string odd = kGood;
   odd.replace(odd.find("'frag': 1"), 9, "'frag': 001");
   odd.replace(odd.find("twiceNatAddrOnlyHitActionSpec,"), 29, "twiceNatAddrOnlyHitEcmpActionSpec");
   auto const parsed = Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(odd);
   EXPECT_EQ(parsed.action()->frag(), 1);
   EXPECT_EQ(parsed.action()->actionType(), ecmp);
   EXPECT_EQ(parsed.match()->outerIpv4HdrSip(), 2u);
}

// Bad entry texts, each refused where it goes wrong: in the runtime's reader of the specs or in
// the entry's own.
TEST(EntryText, RejectsBadTextAtThePlaceItGoesWrong) {
   std::string const open = kOpen;
   auto inMatch = [](std::string const& fields) { return entryText(matchText(fields), "None"); };
   std::string const badEscape = inMatch("'outerIpv4HdrDip': 'a\\qb'"),
                     shortHex = inMatch("'outerIpv4HdrDip': '\\x4'"),
                     flag = inMatch("'outerIpv4HdrDip': True"),
                     order = inMatch("'outerIpv4HdrSip': 2, 'outerIpv4HdrDip': 1"),
                     noValue = inMatch("'outerIpv4HdrDip': "),
                     noBlank = inMatch("'outerIpv4HdrDip': 1,'outerIpv4HdrSip': 2"),
                     vrf = entryText(matchText("'l3InfoVrfId': 65536"), kAction),
                     isSet = inMatch("'isSet': 1"),
                     kind = entryText(
                         kMatch, objectText("OnMissActionSpec", "'actionType': dropActionSpec"));
   std::string unterminated = open + "'match': " + matchText("'outerIpv4HdrDip': 'abc");
   unterminated.resize(unterminated.size() - 2);  // the text ends inside the string
   auto at = [](std::string const& text, char const* piece) { return long(text.find(piece)); };
   std::vector<FailCase> const failures = {
       {badEscape, parse, "bad escape", at(badEscape, "\\q")},
       {shortHex, parse, "bad escape", at(shortHex, "\\x")},
       {unterminated, parse, "unterminated", at(unterminated, "'abc")},
       {flag, convert,
        "attribute 'outerIpv4HdrDip' of class BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec at "
        "position " +
            std::to_string(at(flag, "True")) + ": cannot convert a flag to a number"},
       {order, parse, "'outerIpv4HdrDip' repeated or out of order", at(order, "'outerIpv4HdrDip'")},
       {noValue, parse, "expected a value", at(noValue, "})")},
       {noBlank, missing, "\"})\"", at(noBlank, ",'")},
       {entryText("Object('Zin::PtrInterface', ** {})", "None"), parse, "cannot be built"},
       {entryText(objectText("TwiceNatAddrOnlyTableEntry", ""), "None"), parse,
        "no class named 'BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry'", kOpenLen + 9 + 8},
       {entryText(nestedMatches(64), "None"), convert, "'outerIpv4HdrDip'"},  // deep, not too deep
       {entryText(nestedMatches(65), "None"), parse, "nested deeper"},
       {"value" + kGood.substr(5), missing, "expected \"" + open + "\"", 0},
       {open + "'match': " + kMatch + ", 'actions': None})", missing, "\", 'action': \"",
        kOpenLen + 9 + long(sizeof(kMatch)) - 1},
       {kGood.substr(0, kGoodLen - 1), missing, "\"})\"", kGoodLen - 2},
       {entryText(kAction, "None"), convert,
        "cannot convert BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec to "
        "BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec"},
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
       // Texts of the form the entry prints but for one field or mark: refused as any other.
       {entryText(kMatchWide, kAction), range,
        "attribute 'match.outerIpv4HdrDip': value 4294967296 does not fit in 32 bits"},
       {entryText(kMatchVrfMark, kAction), mismatch, "'l3InfoVrfIdIsSet'"},
       {entryText(kMatchIsSet, kAction), mismatch, "cannot be set; it is 0, not 1"},
       {entryText(kMatch, kActionWideFrag), range,
        "attribute 'action.frag': value 256 does not fit in 8 bits"},
   };
   for (auto const& c : failures)
      expectFailure(c,
                    [](std::string const& t) { Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(t); });
}

}  // namespace
