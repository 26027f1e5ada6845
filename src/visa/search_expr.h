// The VISA search-expression language of viFindRsrc, for the backends that
// search resources themselves (the simulated instruments and the USBTMC
// driver). An expression is a regular expression over resource strings:
//
//   ?        any one character
//   *        zero or more of the preceding character or group (?* = any string)
//   +        one or more of the preceding character or group
//   [list]   one character in the list; [^list] not in it; ranges a-z
//   \c       the character c itself
//   a|b      either expression; ( ) groups; ( ) binds tightest, | loosest
//   .        and every other character: itself
//   {...}    an attribute expression after the pattern: accepted, not evaluated
//
// The whole resource string must match. Letters match in either case, as the
// widely used VISA implementations do.
#pragma once

#include <string_view>

enum class SearchMatch {
  kNoMatch,
  kMatch,
  kInvalid,  // the expression is malformed (unbalanced ( ) or [ ], a trailing \ ...)
};

// Matches the resource string rsrc against the search expression expr.
SearchMatch visa_search_match(std::string_view expr, std::string_view rsrc);
