#include "agent/cli/SdkFailure.h"

#include <ostream>

#include "BfTwiceNatAddrOnly/table/TableExceptions.h"
#include "agent/KeyTable.h"
#include "agent/cli/InputError.h"
#include "chip/ChipException.h"

namespace TwiceNatCli {

namespace {

constexpr char kRepairs[] = " ('twicenat chip repair' repairs it)";

template <class E>
std::string describe(E const& e, char const* cls) {
   return std::string(e.what()) + " (" + cls + ", status " + std::to_string(e.status) + ")";
}

}  // namespace

std::optional<std::string> sdkFailureText(std::exception_ptr e) {
   try {
      std::rethrow_exception(e);
   } catch (BfTable::BfNotSupported const& x) {
      return describe(x, "BfNotSupported");
   } catch (BfTable::BfDuplicateEntry const& x) {
      return describe(x, "BfDuplicateEntry");
   } catch (BfTable::BfTryAgain const& x) {
      return describe(x, "BfTryAgain");
   } catch (BfTable::BfTableFull const& x) {
      return describe(x, "BfTableFull");
   } catch (BfTable::BfNoSysResources const& x) {
      return describe(x, "BfNoSysResources");
   } catch (BfTable::BfTableException const& x) {
      return describe(x, "BfTableException");
   } catch (...) {
      return std::nullopt;
   }
}

int reportFailure(std::exception_ptr e, std::ostream& err) {
   if (auto sdk = sdkFailureText(e)) {
      err << "twicenat: SDK failure: " << *sdk << "\n";
      return kExitSdkFailure;
   }
   try {
      std::rethrow_exception(e);
   } catch (InputError const& x) {
      err << "twicenat: " << x.what() << "\n";
      return kExitBadInput;
   } catch (chip::ChipStateRefused const& x) {
      // A state file a start refuses is bad input: the one line names the file and why.
      err << "twicenat: " << x.what() << (x.repairable() ? kRepairs : "") << "\n";
      return kExitBadInput;
   } catch (TwiceNatAgent::KeyTableRefused const& x) {
      err << "twicenat: " << x.what() << (x.replaceable() ? kRepairs : "") << "\n";
      return kExitBadInput;
   } catch (std::exception const& x) {
      err << "twicenat: " << x.what() << "\n";
   } catch (...) {
      err << "twicenat: unknown failure\n";
   }
   return kExitSdkFailure;
}

}  // namespace TwiceNatCli
