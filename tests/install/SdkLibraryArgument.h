#pragma once
// The SDK library a user of the package loads: the program's one argument, or the library
// named when it was built (TWICENAT_SDK_LIBRARY, as the CMake users define it). Null, after
// saying how to call the program, when there is neither.
#include <cstdio>

inline char const* sdkLibraryArgument(int argc, char** argv) {
   if (argc == 2) return argv[1];
#ifdef TWICENAT_SDK_LIBRARY
   if (argc == 1) return TWICENAT_SDK_LIBRARY;
#endif
   std::fprintf(stderr, "usage: %s SDK-LIBRARY\n", argv[0]);
   return nullptr;
}
