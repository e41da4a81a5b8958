#include "BfTwiceNatAddrOnly/bfrt/BfrtModuleObjects.h"

namespace BfTwiceNatAddrOnly::detail {

// Constant-initialised, so no table can see it before its constructor ran; its destructor
// runs when the library is unloaded.
constinit BfrtModuleObjects bfrtModule;

}  // namespace BfTwiceNatAddrOnly::detail
