#pragma once
// The two lines that carry bulk data, read in the exact form this protocol's own writers give
// them (encodeRequest for a batch, encodePage for a show's page), without the general JSON
// reader: a byte-for-byte walk that builds the same values. Any line not in that form, with a
// value out of range, or otherwise unusual (spaces, escapes, fields in another order) is left
// to the general reader, which takes every valid form and says what is wrong with the rest.
#include <string_view>

#include "agent/service/Messages.h"

namespace TwiceNatService {

// An apply or part request with its updates given as lists; false when `line` (without its
// newline) is not one as encodeRequest writes it. `out` is written only on true.
bool readCanonicalBatch(std::string_view line, Request& out);
// A page of a show with status OK; false when `line` is not one as encodePage writes it. On
// false `page` holds no meaning.
bool readCanonicalPage(std::string_view line, Page& page);

// The general readers alone, which parseRequest and parsePage fall back to: checks compare them.
Request parseRequestInFull(std::string_view line);
void parsePageInFull(std::string_view line, Page& page);

}  // namespace TwiceNatService
