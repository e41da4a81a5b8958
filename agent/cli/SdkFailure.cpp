#include "agent/cli/SdkFailure.h"

#include "BfTwiceNatAddrOnly/table/TableExceptions.h"

namespace TwiceNatCli {

namespace {

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

}  // namespace TwiceNatCli
