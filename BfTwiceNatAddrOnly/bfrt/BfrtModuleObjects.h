#pragma once
// The BfRt key and data objects that the BfRt back end reuses across operations. There is one
// set per loaded library, shared by every BfRt-backed table of the process; binding a table
// replaces the objects of the kinds it binds. They are destroyed when the library is unloaded.
#include <memory>

#include "BfTwiceNatAddrOnly/platform/BfRt.h"

namespace BfTwiceNatAddrOnly {

struct BfrtModuleObjects {
   // Match table: the key of entry adds, and the key and data that readbacks fill.
   std::unique_ptr<bfrt::BfRtTableKey> programKey;
   std::unique_ptr<bfrt::BfRtTableKey> readKey;
   std::unique_ptr<bfrt::BfRtTableData> readData;
   // One data object per action, allocated and bound to its action at its first programming
   // after a binding (its flag then turns true) and only overwritten afterwards.
   std::unique_ptr<bfrt::BfRtTableData> onMissData;
   std::unique_ptr<bfrt::BfRtTableData> hitData;
   std::unique_ptr<bfrt::BfRtTableData> hitEcmpData;
   // Further BfRt tables of the same P4 table: allocated at binding, not used afterwards.
   std::unique_ptr<bfrt::BfRtTableKey> actionProfileKey;
   std::unique_ptr<bfrt::BfRtTableData> actionProfileData;
   std::unique_ptr<bfrt::BfRtTableKey> selectorKey;
   std::unique_ptr<bfrt::BfRtTableData> selectorData;

   bool onMissDataPrepared = false;
   bool hitDataPrepared = false;
   bool hitEcmpDataPrepared = false;
};

namespace detail {
// Static storage of the library, initialised before any code runs. Only the back end writes it.
extern BfrtModuleObjects bfrtModule;
}  // namespace detail

// Read access, for inspection.
inline BfrtModuleObjects const& bfrtModuleObjects() {
   return detail::bfrtModule;
}

}  // namespace BfTwiceNatAddrOnly
