#pragma once
// The literal pieces of the runtime's text form, shared by its printer and its reader.
#include <cstddef>
#include <string_view>

namespace Zin::strep {

inline constexpr std::string_view kObjectOpen = "Object('";
inline constexpr std::string_view kValueOpen = "Value('";
inline constexpr std::string_view kNameClose = "', ** {";
inline constexpr std::string_view kKeyOpen = "'";
inline constexpr std::string_view kKeyClose = "': ";
inline constexpr std::string_view kSeparator = ", ";
inline constexpr std::string_view kClose = "})";
inline constexpr std::string_view kTrue = "True";
inline constexpr std::string_view kFalse = "False";

// Deep enough for any real object graph; bounds recursion on hostile text and on cycles.
inline constexpr std::size_t kMaxDepth = 64;

inline bool isWordChar(char c) {
   return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
inline bool isDigit(char c) {
   return c >= '0' && c <= '9';
}

}  // namespace Zin::strep
