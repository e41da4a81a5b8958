#pragma once
// Reads a JSON message as a stream of typed events, never as a tree: each value arrives with
// the path that leads to it. The protocol's messages and the files `load` reads are taken this
// way, so that a batch of thousands of updates, or an export of a million entries, costs no
// more memory than its largest value. A key given twice in one object, nesting deeper than
// the protocol's messages go, and a value larger than the caller's bound are refused.
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Zin/Types.h"

namespace TwiceNatService {

// A message (or a file's contents) that cannot be taken; what() says why in one line.
class ProtocolError : public std::runtime_error {
 public:
   explicit ProtocolError(std::string const& message) : std::runtime_error(message) {}
};

struct JsonScalar {
   enum class Kind : U8 { null, boolean, unsignedNumber, negativeNumber, fraction, string };
   Kind kind = Kind::null;
   bool boolean = false;
   U64 number = 0;                // unsignedNumber
   std::string_view text;         // string; the number as written for the others
   char const* typeName() const;  // "null", "a boolean", "a number", "a string"
};

// One step of a path: an object's key, or an array's index (key empty).
struct JsonStep {
   std::string_view key;
   std::size_t index = 0;
   bool inArray = false;
};
using JsonPath = std::span<JsonStep const>;

// "entries[3].dst", for messages.
std::string pathText(JsonPath path);

class JsonEvents {
 public:
   virtual ~JsonEvents() = default;
   // A scalar value at `path` (never empty: the document itself is an object).
   virtual void scalar(JsonPath path, JsonScalar const& value) = 0;
   // An object or array begins or ends at `path` (empty: the document); `count` is the number
   // of its members.
   virtual void open(JsonPath path, bool array) = 0;
   virtual void close(JsonPath path, bool array, std::size_t count) = 0;
};

struct JsonLimits {
   std::size_t depth = 4;       // nesting below the document
   std::size_t keys = 64;       // keys of one object
   std::size_t valueBytes = 0;  // of one string or key; 0: unbounded
};

// Reads `text`, which must hold one JSON object and nothing else, and calls `events`. Throws
// ProtocolError naming what is wrong; what the events throw passes through.
void readJson(std::string_view text, JsonEvents& events, JsonLimits const& limits = {});

// The same from a source of bytes: `next(buffer, size)` fills up to `size` bytes and returns
// how many, 0 at the end. Used for files that may be too large to hold.
class JsonSource {
 public:
   virtual ~JsonSource() = default;
   virtual std::size_t next(char* buffer, std::size_t size) = 0;
   // Lines the parser has passed, from 1: where the value being read is, for messages.
   std::size_t line = 1;
};
void readJson(JsonSource& source, JsonEvents& events, JsonLimits const& limits = {});

}  // namespace TwiceNatService
