#pragma once
// Rebuilds a new table's handle map and its key manager's view from the records of the
// shared-memory key table, reading every recorded entry back from the chip.
#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTable.h"

namespace BfTwiceNatAddrOnly {

// Programs and removes nothing. A corrupted key table ends the walk where the corruption
// was found; anything else that fails propagates.
void resyncTable(TwiceNatAddrOnlyTable& table);

}  // namespace BfTwiceNatAddrOnly
