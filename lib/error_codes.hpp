// The program's own error codes, each named once with when it is raised. The
// numbers stand in every report and in scripts that read them: they never
// change. A code may carry several meanings, told apart by the context's
// unit or class.
#pragma once

namespace qlib {

// _CONVERT: a yes/no value is empty.
inline constexpr int err_yes_no_empty = 106;
// _GIO: no registered file type accepts a file name.
inline constexpr int err_no_file_type = 151;
// _MATH: the library's unsigned division by zero.
inline constexpr int err_math_division_by_zero = 200;
// _CONVERT: a yes/no value begins with a character that means neither.
inline constexpr int err_yes_no_neither = 201;
// _PARAMS and _SYSTEM: a text put in quotes would be longer than 255
// characters.
inline constexpr int err_quoted_too_long = 201;
// Any t_object class: setup was given a parameter the class does not take.
inline constexpr int err_setup_refused = 211;
// Program driver: the "/mode" value is no key of the catalogue.
inline constexpr int err_unknown_comic = 2024;
// _OS: a letter of an attribute filter outside "rhsda".
inline constexpr int err_bad_attribute_letter = 2024;
// _LISTS: an element that belongs to another list.
inline constexpr int err_foreign_element = 2025;
// Program driver: the calendar page could not be fetched; nothing else is
// asked.
inline constexpr int err_calendar_failed = 2030;
// Program driver: at the end of a scan, a failed request left some day
// without its strip.
inline constexpr int err_days_missing = 2031;
// Program driver: the command line after the program name is longer than the
// 255 characters it reads; raised before any request.
inline constexpr int err_command_line_too_long = 2032;
// Program driver: the "/connections" value is outside 1 to 8; raised before
// any request.
inline constexpr int err_connections_out_of_range = 2033;
// _CONVERT, integer expressions: an operand expected.
inline constexpr int err_operand_expected = 2090;
// _CONVERT, integer expressions: ")" expected.
inline constexpr int err_close_expected = 2091;
// _CONVERT, integer expressions: a character that is no token.
inline constexpr int err_no_token = 2094;
// _CONVERT, integer expressions: text left after the expression.
inline constexpr int err_text_left = 2095;
// _CONVERT, integer expressions: a number base outside 2 to 36, or a second
// "$" in one number.
inline constexpr int err_bad_base = 2096;
// _CONVERT, integer expressions: a digit not smaller than the base.
inline constexpr int err_bad_digit = 2097;
// _OS: a reference marked with "!" has an empty value.
inline constexpr int err_empty_reference = 2270;
// _OS: a reference marked with "!!" has an empty value.
inline constexpr int err_empty_required_reference = 2271;
// _PARAMS: the value of a parameter asked of a source that has none.
inline constexpr int err_no_current_param = 2451;
// _PARAMS: a "(" without its ")" before the end of the line.
inline constexpr int err_open_parenthesis = 2452;
// _PARAMS: a ")" outside quotes and parentheses.
inline constexpr int err_stray_parenthesis = 2453;
// _PARAMS: a double quote without its closing quote.
inline constexpr int err_open_quote = 2454;
// _PARAMS: an include of a file that an enclosing source is reading, or
// nested deeper than the parser allows.
inline constexpr int err_include_loop = 2455;
// _PARAMS: an enciphered line too short, or its check value wrong.
inline constexpr int err_bad_ciphered_line = 2459;
// _PARAMS: a plain "@" include that cannot be opened.
inline constexpr int err_include_failed = 2462;
// Not a failure: raised by the library to leave an iteration early, and
// caught by the library itself.
inline constexpr int break_code = 8021;

}  // namespace qlib
