// Counts of the global heap, kept by this program's replacement operator new and delete: how
// many allocations were made and how many bytes are live, to tell the hot paths' stray
// allocations and the heap an entry costs.
#pragma once

namespace bench {

long heapAllocs();     // operator new calls since start
long heapLiveBytes();  // bytes allocated by operator new and not yet freed (usable sizes)

}  // namespace bench
