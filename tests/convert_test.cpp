// Yes/no values and integer expressions.
#include "lib/convert.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Expects `expected` from `action`, or with `raises` an error of that code
// from this unit.
void expect_result(const std::function<std::int32_t()>& action, bool raises,
                   std::int32_t expected, const std::string& why) {
  if (!raises) {
    EXPECT_EQ(action(), expected) << why;
    return;
  }
  try {
    action();
    FAIL() << why << ": no error";
  } catch (const qlib::te_& error) {
    EXPECT_EQ(error.code(), expected) << why;
    EXPECT_EQ(error.context().rfind("/unit=_convert", 0), 0u) << why;
  }
}

struct yes_no_row {
  const char* value;
  int expected;  // 1 yes, 0 no, otherwise the error code
  const char* why;
};

void PrintTo(const yes_no_row& row, std::ostream* out) { *out << '"' << row.value << '"'; }

class YesNo : public testing::TestWithParam<yes_no_row> {};

TEST_P(YesNo, ReadsTheFirstCharacter) {
  const yes_no_row& row = GetParam();
  expect_result([&] { return qlib::yes_no(row.value) ? 1 : 0; }, row.expected > 1, row.expected,
                row.why);
}

INSTANTIATE_TEST_SUITE_P(
    Values, YesNo,
    testing::Values(yes_no_row{" ", 1, "a bare switch is yes"},
                    yes_no_row{"yes", 1, "y"}, yes_no_row{"Y", 1, "Y"},
                    yes_no_row{"ja", 1, "j"}, yes_no_row{"J", 1, "J"},
                    yes_no_row{"+", 1, "plus"}, yes_no_row{"1", 1, "one"},
                    yes_no_row{"no", 0, "n"}, yes_no_row{"N", 0, "N"},
                    yes_no_row{"nein", 0, "nein"}, yes_no_row{"-", 0, "minus"},
                    yes_no_row{"0", 0, "zero"},
                    yes_no_row{"", 106, "empty value"},
                    yes_no_row{"true", 201, "only the first character counts"},
                    yes_no_row{"false", 201, "f means neither"},
                    yes_no_row{"maybe", 201, "m means neither"},
                    yes_no_row{"  ", 201, "two blanks are not a bare switch"},
                    yes_no_row{" y", 201, "a leading blank is the first character"}));

struct expression_row {
  const char* text;
  std::int32_t value;  // with `raises`, the code of the error raised instead
  const char* why;
  bool raises = false;
};

void PrintTo(const expression_row& row, std::ostream* out) { *out << '"' << row.text << '"'; }

class EvalInt : public testing::TestWithParam<expression_row> {};

TEST_P(EvalInt, EvaluatesOrRaisesItsCode) {
  const expression_row& row = GetParam();
  expect_result([&] { return qlib::eval_int(row.text); }, row.raises, row.value,
                std::string(row.why) + ": " + row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EvalInt,
    testing::Values(
        expression_row{"", 0, "empty is 0"},
        expression_row{" ", 0, "a lone blank (bare switch) is 0"},
        expression_row{"   ", 0, "blanks only"},
        expression_row{"42", 42, "decimal"},
        expression_row{"  7  ", 7, "blanks around"},
        expression_row{"$ff", 255, "hexadecimal"},
        expression_row{"$FF", 255, "hexadecimal in capitals"},
        expression_row{"2$101", 5, "base 2"},
        expression_row{"2$1010", 10, "base 2 again"},
        expression_row{"16$ff", 255, "explicit base 16"},
        expression_row{"36$z", 35, "largest base"},
        expression_row{"1_000", 1000, "underscores are ignored"},
        expression_row{"\"A\"", 65, "character constant"},
        expression_row{"\"AB\"", 0x4142, "characters shift in from the right"},
        expression_row{"\"\"\"\"", 34, "a doubled quote is one quote"},
        expression_row{"\"A", 65, "a constant without closing quote ends at the end"},
        expression_row{"1 2", 3, "a number after a term is added"},
        expression_row{"1 2*3", 7, "the added number starts a term"},
        expression_row{"2(3)", 6, "a parenthesis after a factor multiplies"},
        expression_row{"2(3)(4)", 24, "repeatedly"},
        expression_row{"-2*3", -6, "unary minus"},
        expression_row{"-1+2", 1, "unary minus binds to the first term"},
        expression_row{"+5", 5, "unary plus"},
        expression_row{"~0", -1, "unary not"},
        expression_row{"!0", 1, "logical not of 0"},
        expression_row{"!5", 0, "logical not of non-zero"},
        expression_row{"1+2*3", 7, "term binds tighter than sum"},
        expression_row{"(1+2)*3", 9, "parentheses"},
        expression_row{"7/2", 3, "division"},
        expression_row{"-7/2", -3, "division truncates toward zero"},
        expression_row{"7:2", 3, "colon divides"},
        expression_row{"-7%2", -1, "remainder has the sign of the dividend"},
        expression_row{"6&3", 2, "and"},
        expression_row{"6|3", 7, "or"},
        expression_row{"6><3", 5, "exclusive or"},
        expression_row{"6~3", 5, "binary tilde is exclusive or"},
        expression_row{"1<<4", 16, "shift left"},
        expression_row{"1<<33", 2, "shift count modulo 32"},
        expression_row{"(-1)>>28", 15, "logical shift right"},
        expression_row{"-1>>28", 0, "unary minus applies to the whole first term"},
        expression_row{"256>>40", 1, "right shift count modulo 32"},
        expression_row{"2>1", 1, "greater"},
        expression_row{"2<1", 0, "less"},
        expression_row{"2=2", 1, "equal"},
        expression_row{"2<>2", 0, "not equal"},
        expression_row{"2<=2", 1, "less or equal"},
        expression_row{"1>=2", 0, "greater or equal"},
        expression_row{"1<2<3", 1, "comparisons chain left to right: (1<2)<3"},
        expression_row{"3>2>1", 0, "(3>2)>1 is 1>1"},
        expression_row{"-1<0", 1, "comparisons are signed"},
        expression_row{"2147483647+1", INT32_MIN, "wraps around"},
        expression_row{"4294967296", 0, "literal wraps around"},
        expression_row{"-2147483647-1", INT32_MIN, "smallest value"},
        expression_row{"(-2147483647-1)/(-1)", INT32_MIN, "the one overflowing division wraps"},
        expression_row{"(-2147483647-1)%(-1)", 0, "and its remainder is 0"},
        expression_row{"1\x1a junk", 1, "character 26 ends the text"},
        expression_row{"2+", 2090, "operand expected", true},
        expression_row{"*2", 2090, "no operand before an operator", true},
        expression_row{"()", 2090, "empty parentheses", true},
        expression_row{"4/-2", 2090, "a sign does not start a factor", true},
        expression_row{"(1", 2091, "closing parenthesis missing", true},
        expression_row{"1#", 2094, "no token", true},
        expression_row{"a", 2094, "a letter starts no token", true},
        expression_row{"1)", 2095, "text left after the expression", true},
        expression_row{"1 \"A\"", 2095, "a character constant is not added", true},
        expression_row{"1$2", 2096, "base 1", true},
        expression_row{"37$1", 2096, "base 37", true},
        expression_row{"2$1$1", 2096, "a second dollar", true},
        expression_row{"9a", 2097, "a digit not smaller than the base", true},
        expression_row{"2$2", 2097, "digit 2 in base 2", true},
        expression_row{"1f$1", 2097, "the base itself is decimal", true}));

// The runtime's division error, not a te_.
TEST(EvalInt, ZeroDivisorRaisesTheDivisionError) {
  for (const char* text : {"1/0", "1:0", "1%0", "5/(2-2)"}) {
    try {
      qlib::eval_int(text);
      FAIL() << "no error for " << text;
    } catch (const platform::EDivByZero& error) {
      EXPECT_STREQ(error.class_name(), "EDivByZero") << text;
    }
  }
}

}  // namespace
