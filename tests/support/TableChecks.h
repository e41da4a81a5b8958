#pragma once
// What tests of both back ends compare: entries, thrown exceptions and the texts of the checks
// that stop the process.
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyTableEntryText.h"
#include "TableRig.h"

namespace tabletest {

// Classes and values of an entry (its text form), to compare a readback with what was programmed.
inline std::string describe(TwiceNatAddrOnlyTableEntry const& e) {
   return valueToStrep(e);
}
inline std::string describe(MatchC const& m, Action const& a) {
   return describe(entryOf(m, a));
}

// Class, status and message of what an operation threw.
struct Thrown {
   std::string cls;
   I32 status = 0;
   std::string what;
   bool operator==(Thrown const&) const = default;
   friend void PrintTo(Thrown const& t, std::ostream* os) {
      *os << t.cls << " " << t.status << " \"" << t.what << "\"";
   }
};
// A handler for the base receives the base and its two public subclasses; the privately derived
// ones escape it, each to a handler of its own.
inline Thrown thrownBy(std::function<void()> const& f) {
   using namespace BfTable;
   try {
      try {
         f();
      } catch (BfTableException const& e) {
         return {dynamic_cast<BfTableFull const*>(&e)        ? "BfTableFull"
                 : dynamic_cast<BfNoSysResources const*>(&e) ? "BfNoSysResources"
                                                             : "BfTableException",
                 e.status, e.what()};
      }
   } catch (BfTryAgain const& e) {
      return {"BfTryAgain", e.status, e.what()};
   } catch (BfDuplicateEntry const& e) {
      return {"BfDuplicateEntry", e.status, e.what()};
   } catch (BfNotSupported const& e) {
      return {"BfNotSupported", e.status, e.what()};
   }
   return {};
}

inline std::pair<I32, char const*> const kStatuses[] = {
    {2, "No system resources"},      {3, "Invalid arguments"},
    {4, "Already exists"},           {6, "Object not found"},
    {9, "Not enough space"},         {10, "Resource temporarily not available, try again later"},
    {17, "Operation not supported"}, {26, "Hardware entry not found"},
    {27, "Unknown error"},           {-1, "Unknown error"}};

// What a failed entry operation throws: its label, the status text, the class by the status
// (duplicates have a class of their own only in the BfRt rule).
inline Thrown entryFailure(std::string const& label, I32 st, char const* text, bool bfrt) {
   char const* cls = st == 9           ? "BfTableFull"
                     : st == 2         ? "BfNoSysResources"
                     : st == 17        ? "BfNotSupported"
                     : st == 4 && bfrt ? "BfDuplicateEntry"
                                       : "BfTableException";
   return {cls, st, label + "() failed: " + text};
}

inline std::string entryIsFn(std::string const& backEnd) {
   return "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable" + backEnd +
          "::entryIs(const BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry&)";
}
inline std::string entryDelFn(std::string const& backEnd) {
   return "virtual void BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable" + backEnd +
          "::entryDel(const PtrConst&)";
}

// The C library's assertion line for `expr` failing in `fn`, as a death-test pattern.
inline std::string escaped(std::string const& s) {
   std::string r;
   for (char c : s)
      r +=
          std::string(std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos, '\\') +
          c;
   return r;
}
inline std::string assertion(std::string const& fn, std::string const& expr) {
   return escaped(std::string(kSourceName) + ":") + "[0-9]+: " + escaped(fn) + ": Assertion `" +
          escaped(expr) + "' failed";
}

}  // namespace tabletest
