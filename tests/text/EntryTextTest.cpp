// Text form of table entries: round trips, and every failure at the place it arises.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <sstream>

#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "TextTestSupport.h"

namespace {

using namespace BfTwiceNatAddrOnly;
using TextTest::Failure;

constexpr U32 kMax32 = std::numeric_limits<U32>::max();
constexpr U16 kMax16 = std::numeric_limits<U16>::max();
constexpr U8 kMax8 = std::numeric_limits<U8>::max();

struct MatchRow {
   U32 dip;
   U32 sip;
   std::optional<U16> vrf;
};

TwiceNatAddrOnlyMatchSpec::PtrConst matchOf(std::optional<MatchRow> row) {
   if (!row) return nullptr;
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   m->outerIpv4HdrDipIs(row->dip);
   m->outerIpv4HdrSipIs(row->sip);
   if (row->vrf) m->l3InfoVrfIdIs(*row->vrf);
   return m;
}

enum class Action { none, base, onMiss, hit, ecmp };

struct ActionRow {
   Action cls;
   U8 frag, prot;
   U16 keyId, rwId, own;
};

TwiceNatAddrOnlyBaseActionSpec::PtrConst actionOf(ActionRow const& row) {
   TwiceNatAddrOnlyBaseActionSpec::Ptr a;
   switch (row.cls) {
      case Action::none:
         return nullptr;
      case Action::base:
         a = twiceNatAddrOnlyBaseActionSpecFactory();
         break;
      case Action::onMiss:
         a = onMissActionSpecFactory();
         break;
      case Action::hit: {
         auto hit = twiceNatAddrOnlyHitActionSpecFactory();
         hit->nextHopIs(row.own);
         a = hit;
         break;
      }
      case Action::ecmp: {
         auto ecmp = twiceNatAddrOnlyHitEcmpActionSpecFactory();
         ecmp->ecmpGroupIs(row.own);
         a = ecmp;
         break;
      }
   }
   a->fragIs(row.frag);
   a->protIs(row.prot);
   a->keyIdIs(row.keyId);
   a->rwIdIs(row.rwId);
   return a;
}

// Same class and the same value for every attribute the registry lists.
void expectSameContents(Zin::PtrInterface const* a, Zin::PtrInterface const* b) {
   ASSERT_EQ(a == nullptr, b == nullptr);
   if (!a) return;
   ASSERT_EQ(a->fwkType(), b->fwkType());
   EXPECT_NE(a, b) << "the parse must build new objects";
   for (auto const* attr : a->fwkType()->attributes()) {
      EXPECT_EQ(Zin::valueToStrep(attr->get(*a)), Zin::valueToStrep(attr->get(*b))) << attr->name;
   }
}

struct RoundTrip {
   char const* name;
   std::optional<MatchRow> match;
   ActionRow action;
};

RoundTrip const kRoundTrips[] = {
    {"zeros, no VRF, onMiss", MatchRow{0, 0, {}}, {Action::onMiss, 0, 0, 0, 0, 0}},
    {"VRF given as 0, plain base spec", MatchRow{0, 0, U16(0)}, {Action::base, 0, 0, 0, 0, 0}},
    {"maxima, hit",
     MatchRow{kMax32, kMax32, kMax16},
     {Action::hit, kMax8, kMax8, kMax16, kMax16, kMax16}},
    {"maxima, ecmp",
     MatchRow{kMax32, kMax32, kMax16},
     {Action::ecmp, kMax8, kMax8, kMax16, kMax16, kMax16}},
    {"typical ecmp", MatchRow{167772161, 3232235777u, U16(12)}, {Action::ecmp, 1, 6, 300, 7, 42}},
    {"null match", std::nullopt, {Action::hit, 1, 2, 3, 4, 5}},
    {"null action", MatchRow{1, 2, {}}, {Action::none, 0, 0, 0, 0, 0}},
    {"both null", std::nullopt, {Action::none, 0, 0, 0, 0, 0}},
};

TEST(EntryText, RoundTripsEveryShapeOfEntry) {
   for (RoundTrip const& c : kRoundTrips) {
      SCOPED_TRACE(c.name);
      TwiceNatAddrOnlyTableEntry entry(matchOf(c.match));
      entry.actionIs(actionOf(c.action));
      Pemra::String const text = valueToStrep(entry);
      std::ostringstream os;
      os << entry;
      EXPECT_EQ(os.str(), text);

      auto parsed = Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(text);
      expectSameContents(entry.match().ptr(), parsed.match().ptr());
      expectSameContents(entry.action().ptr(), parsed.action().ptr());
      EXPECT_EQ(isEq(parsed, entry), entry.empty());
      EXPECT_EQ(valueToStrep(parsed), text);

      // The range constructor consumes exactly the text and stops there.
      Pemra::String const followed = text + ", next";
      Zin::CharRange in(followed);
      TwiceNatAddrOnlyTableEntry fromRange(in);
      EXPECT_EQ(in.rest(), ", next");
      EXPECT_EQ(valueToStrep(fromRange), text);
   }
}

TEST(EntryText, PrintsTheExactLine) {
   TwiceNatAddrOnlyTableEntry entry(matchOf(MatchRow{167772161, 3232235777u, U16(0)}));
   entry.actionIs(actionOf({Action::ecmp, 1, 3, 2, 4, 5}));
   EXPECT_EQ(valueToStrep(entry),
             "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {'match': "
             "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': "
             "167772161, 'outerIpv4HdrSip': 3232235777, 'l3InfoVrfId': 0, 'isSet': 1, "
             "'l3InfoVrfIdIsSet': True}), 'action': "
             "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitEcmpActionSpec', ** {'actionType': "
             "twiceNatAddrOnlyHitEcmpActionSpec, 'frag': 1, 'keyId': 2, 'prot': 3, 'rwId': 4, "
             "'ecmpGroup': 5})})");
   EXPECT_EQ(valueToStrep(TwiceNatAddrOnlyTableEntry()),
             "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {'match': None, "
             "'action': None})");
}

TEST(EntryText, VrfGivenAsZeroStaysDistinctFromNeverGiven) {
   for (bool given : {false, true}) {
      SCOPED_TRACE(given ? "given" : "never given");
      TwiceNatAddrOnlyTableEntry entry(
          matchOf(MatchRow{5, 6, given ? std::optional<U16>(0) : std::nullopt}));
      auto parsed = Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(valueToStrep(entry));
      ASSERT_TRUE(parsed.match());
      EXPECT_EQ(parsed.match()->l3InfoVrfId(), 0);
      EXPECT_EQ(parsed.match()->isSet(), given ? 1u : 0u);
      EXPECT_EQ(parsed.match()->l3InfoVrfIdIsSet(), given);
   }
}

// Pieces of hand-written texts.
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

std::size_t const kOpenLen = sizeof(kOpen) - 1;
std::size_t const kMatchLen = sizeof(kMatch) - 1;
std::size_t const kAfterMatch = kOpenLen + 9 + kMatchLen;
std::size_t const kWholeLen = entryText(kMatch, kAction).size();

std::vector<TextTest::FailCase> const kFailures = {
    {"lower-case type word", "value" + entryText(kMatch, kAction).substr(5), Failure::missing,
     "expected \"Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {\"", 0},
    {"double quotes", "Value(\"BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry\", ** {",
     Failure::missing, "Value('", 0},
    {"no blank after the colon", std::string(kOpen) + "'match':None, 'action': None})",
     Failure::missing, "\"'match': \"", kOpenLen},
    {"keys in the wrong order", std::string(kOpen) + "'action': None, 'match': None})",
     Failure::missing, "\"'match': \"", kOpenLen},
    {"no blank before action", std::string(kOpen) + "'match': None,'action': None})",
     Failure::missing, "\", 'action': \"", kOpenLen + 13},
    {"action key misspelt", std::string(kOpen) + "'match': " + kMatch + ", 'actions': None})",
     Failure::missing, "\", 'action': \"", kAfterMatch},
    {"closing brace missing", entryText(kMatch, kAction).substr(0, kWholeLen - 2) + ")",
     Failure::missing, "\"})\"", kWholeLen - 2},
    {"truncated", entryText(kMatch, kAction).substr(0, kWholeLen - 1), Failure::missing, "\"})\"",
     kWholeLen - 2},
    {"empty text", "", Failure::missing, "Value('", 0},
    {"action class in the match place", entryText(kAction, "None"), Failure::convert,
     "cannot convert BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec to "
     "BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec"},
    {"match class in the action place", entryText(kMatch, kMatch), Failure::convert,
     "cannot convert BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec to "
     "BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec"},
    {"handle map in the action place",
     entryText(kMatch, "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableHandles', ** {})"),
     Failure::convert, "to BfTwiceNatAddrOnly::TwiceNatAddrOnlyBaseActionSpec"},
    {"VRF wider than 16 bits",
     entryText("Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'l3InfoVrfId': 65536})",
               kAction),
     Failure::range, "attribute 'match.l3InfoVrfId': value 65536 does not fit in 16 bits"},
    {"address wider than 32 bits",
     entryText("Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': "
               "4294967296})",
               "None"),
     Failure::range, "'match.outerIpv4HdrDip'"},
    {"frag wider than 8 bits",
     entryText(kMatch, "Object('BfTwiceNatAddrOnly::OnMissActionSpec', ** {'frag': 256})"),
     Failure::range, "'action.frag'"},
    {"number wider than 64 bits",
     entryText(kMatch,
               "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec', ** {'nextHop': "
               "18446744073709551616})"),
     Failure::range, "'action.nextHop': number at position"},
    {"unknown action kind",
     entryText(kMatch,
               "Object('BfTwiceNatAddrOnly::OnMissActionSpec', ** {'actionType': dropActionSpec})"),
     Failure::range, "'action.actionType'"},
    {"isSet that the VRF does not back",
     entryText("Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'isSet': 1})", "None"),
     Failure::mismatch, "'isSet'"},
    {"attribute the class lacks",
     entryText(kMatch, "Object('BfTwiceNatAddrOnly::OnMissActionSpec', ** {'nextHop': 1})"),
     Failure::notFound, "has no attribute 'nextHop'"},
    {"unknown class", entryText("Object('BfTwiceNatAddrOnly::Nothing', ** {})", "None"),
     Failure::parse, "no class named 'BfTwiceNatAddrOnly::Nothing'", kOpenLen + 9 + 8},
    {"text left over", entryText(kMatch, kAction) + "x", Failure::unconsumed, "unconsumed",
     kWholeLen},
};

TEST(EntryText, RejectsBadTextAtThePlaceItGoesWrong) {
   for (auto const& c : kFailures) {
      TextTest::expectFailure(
          c, [](std::string const& t) { Zin::strepToValue<TwiceNatAddrOnlyTableEntry>(t); });
   }
}

TEST(EntryText, RangeConstructorLeavesTrailingText) {
   std::string const text = entryText(kMatch, kAction) + "x";
   Zin::CharRange in(text);
   TwiceNatAddrOnlyTableEntry entry(in);
   EXPECT_EQ(in.rest(), "x");
   ASSERT_TRUE(entry.action());
   EXPECT_EQ(entry.action()->fwkType(), &TwiceNatAddrOnlyHitActionSpec::type());
}

TEST(EntryText, GenericEntryPointsUseTheTypeHooks) {
   auto const* type =
       Zin::TypeRegistry::instance().type("BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry");
   ASSERT_NE(type, nullptr);
   std::string const text = entryText(kMatch, kAction);
   Zin::Value v = Zin::strepToValue(*type, text);
   EXPECT_EQ(Zin::valueToStrep(v), text);
   EXPECT_THROW(Zin::strepToValue(*type, text + " "), Zin::UnconsumedDataException);

   // Inside other text, the value's own form is read through the type's range hook.
   std::string const nested = text + "})";
   Zin::CharRange in(nested);
   Zin::Value inner = Zin::sequenceToValue(in);
   EXPECT_EQ(in.rest(), "})");
   EXPECT_EQ(valueToStrep(Zin::valueAs<TwiceNatAddrOnlyTableEntry>(inner)), text);
}

TEST(EntryText, EntryIsUnhashableAndItsMatchIsNotSettable) {
   auto m = twiceNatAddrOnlyMatchSpecFactory();
   Zin::Value v = Zin::valueOf(TwiceNatAddrOnlyTableEntry(m));
   try {
      Zin::valueHash(v);
      ADD_FAILURE() << "hashed";
   } catch (Zin::UnhashableTypeException const& e) {
      EXPECT_STREQ(e.what(), "unhashable type: 'BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry'");
   }
   auto other = twiceNatAddrOnlyMatchSpecFactory();
   EXPECT_THROW(Zin::valueAttributeIs(v, "match", Zin::valueOf(other)),
                Zin::AttributeReadOnlyException);
   EXPECT_EQ(Zin::valueAs<TwiceNatAddrOnlyTableEntry>(v).match(), m);
}

}  // namespace
