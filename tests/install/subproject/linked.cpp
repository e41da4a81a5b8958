// The including project's code that links twicenat: C++20 from twicenat's targets, and again an
// unused parameter that twicenat's warnings would refuse, had its targets passed them on.
#include "BfTwiceNatAddrOnly/entry/TwiceNatAddrOnlyMatchSpec.h"

static_assert(__cplusplus >= 202002L, "twicenat's targets did not ask for C++20");

int unusedByTheProject(int unused) {
   return 0;
}
