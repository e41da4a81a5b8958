#pragma once
// The runtime's string: a plain standard string, named in both runtime namespaces.
#include <string>

namespace Pemra {
using String = std::string;
}  // namespace Pemra

namespace Zin {
using String = Pemra::String;
}  // namespace Zin
