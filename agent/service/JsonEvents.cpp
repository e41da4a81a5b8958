#include "agent/service/JsonEvents.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include <nlohmann/json.hpp>

namespace TwiceNatService {

namespace {

using Json = nlohmann::json;

// Bytes read since the last value, shared by the iterators the parser copies: a value, a key
// or a run of blanks longer than the bound is refused before it is held whole.
struct Budget {
   std::size_t limit = 0;  // 0: none
   std::size_t used = 0;
   void spend() {
      if (limit && ++used > limit) {
         throw ProtocolError("no value ends within " + std::to_string(limit) + " bytes");
      }
   }
};

JsonScalar of(JsonScalar::Kind kind) {
   JsonScalar v;
   v.kind = kind;
   return v;
}

class Sax final : public nlohmann::json_sax<Json> {
 public:
   Sax(JsonEvents& events, JsonLimits const& limits, Budget& budget)
       : events_(events), limits_(limits), budget_(budget) {}

   bool null() override { return scalar(of(JsonScalar::Kind::null)); }
   bool boolean(bool b) override {
      JsonScalar v = of(JsonScalar::Kind::boolean);
      v.boolean = b;
      return scalar(v);
   }
   bool number_integer(number_integer_t n) override {
      // The parser reports non-negative numbers as unsigned; this one is below zero.
      number_ = std::to_string(n);
      JsonScalar v = of(JsonScalar::Kind::negativeNumber);
      v.text = number_;
      return scalar(v);
   }
   bool number_unsigned(number_unsigned_t n) override {
      JsonScalar v = of(JsonScalar::Kind::unsignedNumber);
      v.number = n;
      return scalar(v);
   }
   bool number_float(number_float_t, string_t const& text) override {
      JsonScalar v = of(JsonScalar::Kind::fraction);
      v.text = text;
      return scalar(v);
   }
   bool string(string_t& s) override {
      JsonScalar v = of(JsonScalar::Kind::string);
      v.text = s;
      return scalar(v);
   }
   bool binary(binary_t&) override { return scalar(of(JsonScalar::Kind::null)); }
   bool key(string_t& k) override {
      budget_.used = 0;
      Frame& f = frames_[top_];
      if (std::find(f.seen.begin(), f.seen.end(), k) != f.seen.end()) {
         throw ProtocolError("\"" + shown(k) + "\" given twice" + where(" in "));
      }
      if (f.seen.size() >= limits_.keys) {
         throw ProtocolError("more than " + std::to_string(limits_.keys) + " keys" + where(" in "));
      }
      f.seen.push_back(k);
      return true;
   }
   bool start_object(std::size_t) override { return enter(false); }
   bool start_array(std::size_t) override { return enter(true); }
   bool end_object() override { return leave(); }
   bool end_array() override { return leave(); }
   bool parse_error(std::size_t at, std::string const&,
                    nlohmann::detail::exception const& e) override {
      std::string what = e.what();
      // "[json.exception.parse_error.101] parse error at line 1, column 2: syntax error ...":
      // the byte says where.
      if (auto p = what.find(": "); p != std::string::npos) what.erase(0, p + 2);
      throw ProtocolError("not JSON (byte " + std::to_string(at) + "): " + what);
   }

 private:
   struct Frame {
      bool array = false;
      std::size_t count = 0;
      std::vector<std::string> seen;  // keys so far; the last is the current one
   };

   static std::string shown(std::string const& k) {
      return k.size() > 40 ? k.substr(0, 37) + "..." : k;
   }

   // The step to the value that comes next in the innermost frame.
   JsonStep step() const {
      Frame const& f = frames_[top_];
      return f.array ? JsonStep{{}, f.count, true} : JsonStep{f.seen.back(), 0, false};
   }
   std::string where(char const* prefix) const {
      return path_.empty() ? "" : prefix + pathText(path_);
   }
   bool scalar(JsonScalar const& v) {
      budget_.used = 0;
      if (top_ == kNone) throw ProtocolError("not a JSON object");
      path_.push_back(step());
      if (limits_.valueBytes && v.kind == JsonScalar::Kind::string &&
          v.text.size() > limits_.valueBytes) {
         throw ProtocolError("a string longer than " + std::to_string(limits_.valueBytes) +
                             " bytes" + where(" in "));
      }
      events_.scalar(path_, v);
      path_.pop_back();
      ++frames_[top_].count;
      return true;
   }
   bool enter(bool array) {
      budget_.used = 0;
      if (top_ == kNone) {
         if (array) throw ProtocolError("not a JSON object");
      } else {
         if (path_.size() >= limits_.depth) {
            throw ProtocolError("nested deeper than " + std::to_string(limits_.depth) +
                                where(" at "));
         }
         path_.push_back(step());
      }
      top_ = top_ == kNone ? 0 : top_ + 1;
      if (frames_.size() <= top_) frames_.emplace_back();
      Frame& f = frames_[top_];
      f.array = array;
      f.count = 0;
      f.seen.clear();
      events_.open(path_, array);
      return true;
   }
   bool leave() {
      budget_.used = 0;
      Frame const& f = frames_[top_];
      events_.close(path_, f.array, f.count);
      if (top_ == 0) {
         top_ = kDone;
         return true;
      }
      --top_;
      path_.pop_back();
      ++frames_[top_].count;
      return true;
   }

   static constexpr std::size_t kNone = std::size_t(-1);
   static constexpr std::size_t kDone = std::size_t(-2);
   JsonEvents& events_;
   JsonLimits const& limits_;
   Budget& budget_;
   std::vector<Frame> frames_;  // kept between objects, so their key lists keep their room
   std::size_t top_ = kNone;
   std::vector<JsonStep> path_;
   std::string number_;
};

// Bytes of a source, one at a time, as the parser takes them.
class SourceReader {
 public:
   SourceReader(JsonSource& source, Budget& budget) : source_(source), budget_(budget) {}
   bool atEnd() {
      if (at_ < size_) return false;
      size_ = source_.next(buffer_, sizeof buffer_);
      at_ = 0;
      return size_ == 0;
   }
   char const& current() const { return buffer_[at_]; }
   void advance() {
      budget_.spend();
      source_.line += buffer_[at_] == '\n';
      ++at_;
   }

 private:
   JsonSource& source_;
   Budget& budget_;
   char buffer_[65536];
   std::size_t at_ = 0, size_ = 0;
};

struct SourceIterator {
   using iterator_category = std::input_iterator_tag;
   using value_type = char;
   using difference_type = std::ptrdiff_t;
   using pointer = char const*;
   using reference = char const&;
   SourceReader* reader = nullptr;  // null: the end

   char const& operator*() const { return reader->current(); }
   SourceIterator& operator++() {
      reader->advance();
      return *this;
   }
   SourceIterator operator++(int) {
      SourceIterator before = *this;
      ++*this;
      return before;
   }
   bool operator==(SourceIterator const& o) const {
      bool const end = !reader || reader->atEnd(), otherEnd = !o.reader || o.reader->atEnd();
      return end == otherEnd;
   }
};

}  // namespace

char const* JsonScalar::typeName() const {
   switch (kind) {
      case Kind::null:
         return "null";
      case Kind::boolean:
         return "a boolean";
      case Kind::unsignedNumber:
      case Kind::negativeNumber:
      case Kind::fraction:
         return "a number";
      case Kind::string:
         return "a string";
   }
   return "?";
}

std::string pathText(JsonPath path) {
   std::string t;
   for (JsonStep const& s : path) {
      if (s.inArray) {
         (t += '[') += std::to_string(s.index) += ']';
      } else {
         if (!t.empty()) t += '.';
         t += s.key.size() > 40 ? std::string(s.key.substr(0, 37)) + "..." : std::string(s.key);
      }
   }
   return t;
}

void readJson(std::string_view text, JsonEvents& events, JsonLimits const& limits) {
   Budget budget;
   Sax sax(events, limits, budget);
   Json::sax_parse(text.begin(), text.end(), &sax);
}

void readJson(JsonSource& source, JsonEvents& events, JsonLimits const& limits) {
   Budget budget{limits.valueBytes};
   SourceReader reader(source, budget);
   Sax sax(events, limits, budget);
   Json::sax_parse(SourceIterator{&reader}, SourceIterator{}, &sax);
}

}  // namespace TwiceNatService
