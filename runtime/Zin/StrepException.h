#pragma once
// Errors of the runtime's text forms. Parse errors carry the offset in the text at which they
// arose; a range error inside an attribute's text is re-raised with the attribute's name.
#include <cstddef>
#include <string_view>

#include "Zin/Exception.h"

namespace Zin {

// Text that the parser cannot read; `position` is the offset where reading stopped.
class ParseException : public Exception {
 public:
   ParseException(String const& message, std::size_t position)
       : Exception(message + " at position " + std::to_string(position)), position_(position) {}
   std::size_t position() const { return position_; }

 private:
   std::size_t position_;
};

// A literal piece of a text form is missing or different at `position`.
class MissingStringException : public ParseException {
 public:
   MissingStringException(std::string_view expected, std::size_t position)
       : ParseException("expected \"" + String(expected) + "\"", position), expected_(expected) {}
   String const& expected() const { return expected_; }

 private:
   String expected_;
};

// A whole-string parse stopped before the end of the string.
class UnconsumedDataException : public ParseException {
 public:
   using ParseException::ParseException;
};

// An attribute that the parser checks instead of setting (read-only or derived) came out of
// the parse with another value than the text gives.
class AttributeMismatchException : public ParseException {
 public:
   using ParseException::ParseException;
};

// A range error raised while reading an attribute's text, with the path of attribute names
// from the outermost value down ("match.l3InfoVrfId").
class AttributeRangeException : public RangeException {
 public:
   AttributeRangeException(String path, String reason)
       : RangeException("attribute '" + path + "': " + reason),
         path_(std::move(path)),
         reason_(std::move(reason)) {}
   String const& attributePath() const { return path_; }
   // The range error as first raised, without the attribute path.
   String const& reason() const { return reason_; }

 private:
   String path_;
   String reason_;
};

// The deserialize-attribute rethrow: re-raises `e` as an AttributeRangeException with
// `attribute` put in front of the path it already carries.
[[noreturn]] void deserializeAttributeRethrow(RangeException const& e, std::string_view attribute);

}  // namespace Zin
