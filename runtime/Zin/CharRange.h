#pragma once
// A window on text that parsers consume from the front. It remembers where it began so
// that errors can name the position at which they arose.
#include <cstddef>
#include <string_view>

namespace Zin {

class CharRange {
 public:
   explicit CharRange(std::string_view text)
       : origin_(text.data()), cur_(text.data()), end_(text.data() + text.size()) {}

   bool empty() const { return cur_ == end_; }
   std::size_t size() const { return static_cast<std::size_t>(end_ - cur_); }
   char front() const { return *cur_; }
   std::string_view rest() const { return {cur_, size()}; }
   // Offset of the front from where the range began.
   std::size_t position() const { return static_cast<std::size_t>(cur_ - origin_); }
   bool startsWith(std::string_view s) const { return rest().substr(0, s.size()) == s; }
   void advance(std::size_t n) { cur_ += n < size() ? n : size(); }

 private:
   char const* origin_;
   char const* cur_;
   char const* end_;
};

}  // namespace Zin
