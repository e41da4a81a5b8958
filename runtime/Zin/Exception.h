#pragma once
// Exception hierarchy of the runtime. Zin::Exception sits on std::exception so that its
// virtual slots are the destructor pair and `what`; InternalException adds `name`.
#include <exception>
#include <utility>

#include "Pemra/String.h"

namespace Zin {

class Exception : public std::exception {
 public:
   explicit Exception(String message) : message_(std::move(message)) {}
   const char* what() const noexcept override { return message_.c_str(); }

 private:
   String message_;
};

// An error inside the agent or one of its plug-ins, as opposed to bad user input.
class InternalException : public Exception {
 public:
   using Exception::Exception;
   virtual String name() const { return "InternalException"; }
};

// A generic attribute request named an attribute the class does not have.
class AttributeNotFoundException : public Exception {
 public:
   using Exception::Exception;
};

// A generic set or clear of an attribute that the class does not let callers change.
class AttributeReadOnlyException : public Exception {
 public:
   using Exception::Exception;
};

// A value that cannot be converted to the type an attribute or argument expects.
class ValueTypeException : public Exception {
 public:
   using Exception::Exception;
};

// A number that does not fit the width of the attribute that receives it.
class RangeException : public Exception {
 public:
   using Exception::Exception;
};

// The runtime was asked for the hash of a type that has none.
class UnhashableTypeException : public Exception {
 public:
   using Exception::Exception;
};

}  // namespace Zin

namespace Pemra {

class Exception : public Zin::Exception {
 public:
   explicit Exception(String message) : Zin::Exception(message), msg_(std::move(message)) {}
   String const& msg() const { return msg_; }

 private:
   String msg_;
};

// A shared-memory structure failed its integrity check; the owner can repair it.
class CorruptionDetectedException : public Exception {
 public:
   using Exception::Exception;
};

}  // namespace Pemra
