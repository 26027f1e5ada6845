#include "visa/search_expr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char* expr;
  const char* rsrc;
  SearchMatch want;
};

constexpr SearchMatch kYes = SearchMatch::kMatch;
constexpr SearchMatch kNo = SearchMatch::kNoMatch;
constexpr SearchMatch kBad = SearchMatch::kInvalid;

class SearchExprTest : public ::testing::TestWithParam<Case> {};

TEST_P(SearchExprTest, Matches) {
  const Case& c = GetParam();
  EXPECT_EQ(visa_search_match(c.expr, c.rsrc), c.want) << c.expr << " against " << c.rsrc;
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, SearchExprTest,
    ::testing::Values(
        // The updater's default expression.
        Case{"USB[0-9]*::?*::INSTR", "USB0::0x1234::0x5678::X::INSTR", kYes},
        Case{"USB[0-9]*::?*::INSTR", "USB::0x1::0x2::S::INSTR", kYes},
        Case{"USB[0-9]*::?*::INSTR", "USB10::0x1234::0x5678::SN::0::INSTR", kYes},
        Case{"USB[0-9]*::?*::INSTR", "USB0::0x1234::0x5678::X::RAW", kNo},
        Case{"USB[0-9]*::?*::INSTR", "GPIB0::2::INSTR", kNo},
        Case{"USB[0-9]*::?*::INSTR", "USB0::0x1234::0x5678::X::INSTR2", kNo},  // whole string
        // + is one or more of the preceding character.
        Case{"ASRL1+::INSTR", "ASRL1::INSTR", kYes},
        Case{"ASRL1+::INSTR", "ASRL11::INSTR", kYes},
        Case{"ASRL1+::INSTR", "ASRL01::INSTR", kNo},
        Case{"ASRL1+::INSTR", "ASRL::INSTR", kNo},
        // A fixed resource string matches itself, '.' included, in either case.
        Case{"USB0::0x1AB1::0x0588::DS1.A::INSTR", "USB0::0x1AB1::0x0588::DS1.A::INSTR", kYes},
        Case{"USB0::0x1AB1::0x0588::DS1.A::INSTR", "USB0::0x1AB1::0x0588::DS1xA::INSTR", kNo},
        Case{"usb0::0x1ab1::0x0588::ds1a::instr", "USB0::0x1AB1::0x0588::DS1A::INSTR", kYes},
        // ? is exactly one character; ?* any string, the empty one included.
        Case{"A?C", "ABC", kYes},
        Case{"A?C", "AC", kNo},
        Case{"?*", "", kYes},
        Case{"", "", kYes},
        Case{"", "X", kNo},
        // Classes, negated classes, ranges, case.
        Case{"[^0-9]X", "AX", kYes},
        Case{"[^0-9]X", "5X", kNo},
        Case{"[a-c]+", "ABCab", kYes},
        Case{"[a-c]+", "abd", kNo},
        Case{"[\\]]", "]", kYes},
        // \ makes the next character literal.
        Case{"A\\*", "A*", kYes},
        Case{"A\\*", "AAA", kNo},
        Case{"\\(x\\)", "(x)", kYes},
        // Alternation binds loosest; groups repeat as a whole.
        Case{"GPIB?*|USB?*", "USB0::1::2::INSTR", kYes},
        Case{"GPIB?*|USB?*", "ASRL1::INSTR", kNo},
        Case{"USB0::(0x1234|0x5678)::?*", "USB0::0x5678::1::S::INSTR", kYes},
        Case{"(ab)+", "ababab", kYes},
        Case{"(ab)+", "aba", kNo},
        Case{"(ab)*c", "c", kYes},
        Case{"(a*)*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", kNo},  // stays fast
        Case{"U***++++++++++++++++++++++++++++++", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", kNo},  // so does this
        Case{"((((((((((((((((?*)*)*)+)*)*)+)*)*)*)+)*)*)*)*)*)*X", "USB0::0x1234::0x5678::SIM0001::INSTR", kNo},
        Case{"((((((((((((((((?*)*)*)+)*)*)+)*)*)*)+)*)*)*)*)*)*R", "USB0::0x1234::0x5678::SIM0001::INSTR", kYes},
        // An attribute expression is accepted and not evaluated.
        Case{"USB?*INSTR{VI_ATTR_MANF_ID==0x1234}", "USB0::0x1234::1::S::INSTR", kYes},
        // Malformed expressions.
        Case{"USB(0", "USB0", kBad},
        Case{"USB0)", "USB0", kBad},
        Case{"USB[0-9", "USB0", kBad},
        Case{"USB[]", "USB", kBad},
        Case{"*USB", "USB", kBad},
        Case{"USB\\", "USB", kBad},
        Case{"[9-0]", "5", kBad},
        Case{"USB{unterminated", "USB", kBad}));

}  // namespace
