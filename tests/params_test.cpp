// Unit _PARAMS: line scanning, comments, "if", values, quoting, enciphered
// lines, and includes of real parameter files through the tests' text-file
// type.
#include "lib/params.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/chars.hpp"
#include "lib/os.hpp"
#include "platform/runtime.hpp"
#include "tests/support/run.hpp"
#include "tests/support/text_file_type.hpp"

namespace {

namespace fs = std::filesystem;
using testing_support::temp_dir;
using testing_support::write_file;

// The context without the task suffix that the task unit may append.
std::string bare_context(const qlib::te_& error) {
  const std::string& context = error.context();
  return context.substr(0, context.find("/task_nr="));
}

struct failure {
  int code = 0;
  std::string context;
  bool operator==(const failure&) const = default;
};

void PrintTo(const failure& error, std::ostream* out) {
  *out << error.code << " " << error.context;
}

failure failure_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const qlib::te_& error) {
    return {error.code(), bare_context(error)};
  }
  return {};
}

// Every reported parameter as "name|raw value".
std::vector<std::string> params_of(std::string_view line, std::uint8_t level = 2,
                                   std::size_t capacity = 255) {
  std::vector<std::string> found;
  qlib::for_each_param(level, line, capacity, [&](qlib::t_par_base& current, const std::string& name) {
    found.push_back(name + "|" + current.get_raw_value());
  });
  return found;
}

using list = std::vector<std::string>;

struct scan_row {
  const char* line;
  std::uint8_t level;
  list expected;
  const char* why;
};

void PrintTo(const scan_row& row, std::ostream* out) { *out << '"' << row.line << '"'; }

class Scan : public testing::TestWithParam<scan_row> {};

TEST_P(Scan, YieldsTheParametersInOrder) {
  const scan_row& row = GetParam();
  EXPECT_EQ(params_of(row.line, row.level), row.expected) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Scan,
    testing::Values(
        scan_row{"/target=. /mode=list", 2, {"target|.", "mode|list"}, "the default line"},
        scan_row{"/MODE=List", 2, {"mode|List"}, "names are lower-cased, values keep their case"},
        scan_row{"/mode=a/target=b", 2, {"mode|a", "target|b"}, "a slash separates"},
        scan_row{"mode=list", 2, {"mode|list"}, "the switch character is optional"},
        scan_row{"-target:c:\\x", 2, {"target|c:\\x"}, "a colon splits, the first one only"},
        scan_row{"verbatim-", 2, {"verbatim|-"}, "a trailing minus is the value"},
        scan_row{"/debug+", 2, {"debug|+"}, "a trailing plus is the value"},
        scan_row{"/help", 2, {"help| "}, "a bare switch has a single blank as value"},
        scan_row{"/", 2, {"| "}, "a lone slash is a parameter without a name"},
        scan_row{"/a=x y", 2, {"a|x", "y| "}, "a blank separates"},
        scan_row{"/target=\"c:/x y\"", 2, {"target|\"c:/x y\""}, "quotes protect; they stay"},
        scan_row{"/a=\"x\"/b", 2, {"a|\"x\"", "b| "}, "a slash after the closing quote separates"},
        scan_row{"/a=\"x(y\"", 2, {"a|\"x(y\""}, "a parenthesis inside quotes is text"},
        scan_row{"/target=(c:/x y)", 2, {"target|(c:/x y)"}, "parentheses protect"},
        scan_row{"/a=(\"x)y\") /b", 2, {"a|(\"x)y\")", "b| "}, "quotes inside parentheses"},
        scan_row{"/a=((b)(c)) /d", 2, {"a|((b)(c))", "d| "}, "nested parentheses"},
        scan_row{"/a=(b)c", 2, {"a|(b)c"}, "a parameter goes on after its parentheses"},
        scan_row{"(/a=1 /b=2)", 2, {"a|1", "b|2"}, "parentheses around the whole line go"},
        scan_row{"( (/a=1) )", 2, {"a|1"}, "again and again"},
        scan_row{"   ", 0, {"| "},
                 "design rule: set-up trims blanks only to an empty line, one empty parameter"},
        scan_row{"   ", 2, {}, "blanks only"},
        scan_row{"", 0, {"| "}, "an empty line is one empty parameter at level 0"},
        scan_row{"", 1, {}, "and nothing at level 1"},
        scan_row{"", 2, {}, "nor at level 2"},
        scan_row{"/a=1 ; /b=2", 2, {"a|1"}, "a semicolon comments out the rest of the line"},
        scan_row{"/a=1 ; /b=2", 0, {"a|1", "; /b|2"}, "comments are reported at level 0"},
        scan_row{"/a=1 {x} /b=2", 2, {"a|1"}, "so does a brace"},
        scan_row{"/a=1 -- /b=2", 2, {"a|1"}, "two minus signs"},
        scan_row{"/a=1 // /b=2", 2, {"a|1"}, "two slashes, although a slash separates"},
        scan_row{"/a=1 /* x /b=2", 2, {"a|1"}, "slash and star"},
        scan_row{"/a=1 (* x) /b=2", 2, {"a|1"}, "parenthesis and star run to the line end"},
        scan_row{"(*x*)", 2, {}, "a whole-line comment is not unwrapped"},
        scan_row{"(*x*)", 0, {"(*x*)| "}, "and is one parameter of kind 0"},
        scan_row{"#x=1 /y=2", 2, {"y|2"}, "kind 1 is below level 2"},
        scan_row{"#x=1 /y=2", 1, {"#x|1", "y|2"}, "and reported at level 1"},
        scan_row{"/if=0 /a=1", 2, {}, "a false condition skips the rest of its line"},
        scan_row{"/a=0 /if=0 /b=1", 2, {"a|0"}, "only the rest"},
        scan_row{"/if=1 /a=1", 2, {"a|1"}, "a true condition"},
        scan_row{"/if=2>1 /a=1", 2, {"a|1"}, "an expression"},
        scan_row{"/IF=1 /a", 2, {"a| "}, "the name is compared lower-cased"},
        scan_row{"/if /a=1", 2, {}, "a bare if is 0"},
        scan_row{"/if=1", 0, {}, "if is never reported, at any level"},
        scan_row{"@@nosuch /a=1", 2, {"a|1"}, "an optional include that fails is skipped"},
        scan_row{"@@ /a=1", 2, {"a|1"}, "even without a name"}));

struct error_row {
  const char* line;
  int code;
  const char* context;
  const char* why;
};

void PrintTo(const error_row& row, std::ostream* out) { *out << '"' << row.line << '"'; }

class ScanError : public testing::TestWithParam<error_row> {};

TEST_P(ScanError, EndsTheIteration) {
  const error_row& row = GetParam();
  EXPECT_EQ(failure_of([&] { params_of(row.line); }), (failure{row.code, row.context}))
      << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScanError,
    testing::Values(
        error_row{"/a=(b", 2452, "/class=t_param", "an unclosed parenthesis"},
        error_row{"/a=b (", 2452, "/class=t_param", "a parenthesis as the last character"},
        error_row{"/a=b)", 2453, "/class=t_param", "a closing parenthesis outside"},
        error_row{")", 2453, "/class=t_param", "alone"},
        error_row{"/a=\"b", 2454, "/class=t_param", "an unclosed quote"},
        error_row{"/a=(b\"c)", 2454, "/class=t_param", "an unclosed quote inside parentheses"},
        error_row{"@x", 2462, "/class=t_param/name=\"x\"", "no file type reads x"},
        error_row{"/a=1 @", 2462, "/class=t_param/name=\"\"", "an include without a name"},
        error_row{"/if=1+", 2090, "/unit=_convert", "the condition's own error"},
        error_row{"/a=%!quorvel_no_such_var%", 2270, "/unit=_os", "the line's references"}));

TEST(ScanLimits, NamesAreCutToTheCallersCapacity) {
  EXPECT_EQ(params_of("/abcdef=1", 2, 3), list{"abc|1"});
  EXPECT_EQ(params_of("/ABCDEF", 2, 0), list{"| "});
}

TEST(ScanLimits, LinesAreCutAt255Characters) {
  const std::string value(300, 'v');
  EXPECT_EQ(params_of("/a=" + value), list{"a|" + std::string(252, 'v')});
  EXPECT_EQ(params_of("/a=%%" + value), list{"a|%" + std::string(251, 'v')})
      << "the cut happens after the references are expanded";
}

TEST(ScanLimits, TheDivisionByZeroOfAConditionIsNotATe) {
  EXPECT_THROW(params_of("/if=(1/0) /a"), platform::EDivByZero);
}

TEST(Values, ReadAsTextFlagsAndNumbers) {
  std::vector<std::string> seen;
  qlib::for_each_param(2, "/v /n=2$101 /w=N /e=%%quorvel_no_such_var%% /k=1", 255,
                       [&](qlib::t_par_base& current, const std::string& name) {
                         if (name == "v") {
                           EXPECT_TRUE(current.get_yes_no());
                           EXPECT_EQ(current.get_int(), 0);
                           EXPECT_EQ(current.get_kind(), 2);
                         }
                         if (name == "n") {
                           EXPECT_EQ(current.get_int(), 5);
                         }
                         if (name == "w") {
                           EXPECT_FALSE(current.get_yes_no());
                         }
                         if (name == "e") {
                           // The line was expanded once when it was set up.
                           EXPECT_EQ(current.get_raw_value(), "%quorvel_no_such_var%");
                           EXPECT_EQ(current.get_value(), "");
                         }
                         if (name == "k") {
                           EXPECT_EQ(current.param_position(), "5");
                         }
                         seen.push_back(current.param_text());
                       });
  EXPECT_EQ(seen, (list{"/v", "/n=2$101", "/w=N", "/e=%quorvel_no_such_var%", "/k=1"}));
}

TEST(Values, YesNoErrors) {
  const auto read = [](const char* line) {
    return failure_of([&] {
      qlib::for_each_param(2, line, 255, [](qlib::t_par_base& current, const std::string&) {
        current.get_yes_no();
      });
    });
  };
  EXPECT_EQ(read("/verbatim=").code, 106);
  EXPECT_EQ(read("/verbatim=maybe").code, 201);
  EXPECT_EQ(read("/verbatim=maybe").context, "/unit=_convert");
}

TEST(Values, SplitParam) {
  using pair = std::pair<std::string, std::string>;
  EXPECT_EQ(qlib::split_param("/mode=list"), (pair{"mode", "list"}));
  EXPECT_EQ(qlib::split_param("a:b=c"), (pair{"a", "b=c"}));
  EXPECT_EQ(qlib::split_param("//x"), (pair{"/x", " "})) << "one switch character only";
  EXPECT_EQ(qlib::split_param("/a="), (pair{"a", ""}));
  EXPECT_EQ(qlib::split_param("-"), (pair{"", " "}));
}

TEST(Values, StripParens) {
  EXPECT_EQ(qlib::strip_parens(" ( a ) "), "a");
  EXPECT_EQ(qlib::strip_parens("(*a)"), "(*a)");
  EXPECT_EQ(qlib::strip_parens("()"), "");
  EXPECT_EQ(qlib::strip_parens("("), "(");
  EXPECT_EQ(qlib::strip_parens("(a) (b)"), "a) (b") << "the outer characters only";
}

TEST(Quoting, QuoteStr) {
  EXPECT_EQ(qlib::quote_str("abc"), "\"abc\"");
  EXPECT_EQ(qlib::quote_str("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(qlib::quote_str(""), "\"\"");
  EXPECT_EQ(qlib::quote_str(std::string(253, 'x')).size(), 255u);
  EXPECT_EQ(qlib::quote_str(std::string(126, '"') + "x").size(), 255u);
  for (const std::string& text : {std::string(254, 'x'), std::string(127, '"')}) {
    EXPECT_EQ(failure_of([&] { qlib::quote_str(text); }), (failure{201, "/unit=_params"}));
  }
}

TEST(Quoting, UnquoteStr) {
  const struct {
    const char* text;
    const char* expected;
    const char* why;
  } rows[] = {
      {"\"a\"\"b\"", "a\"b", "a doubled quote becomes one"},
      {"\"a\"\"\"\"b\"", "a\"\"b", "each pair separately"},
      {"\"a\"b\"", "a\"b", "a single quote inside stays"},
      {"\"\"", "", "an empty quoted text"},
      {"\"", "\"", "one character is too short"},
      {"\"abc", "\"abc", "a quote at one end only"},
      {"abc\"", "abc\"", "at the other end only"},
      {"proxy:8080", "proxy:8080", "no quotes"},
  };
  for (const auto& row : rows) EXPECT_EQ(qlib::unquote_str(row.text), row.expected) << row.why;
  EXPECT_EQ(qlib::unquote_str(qlib::quote_str("say \"hi\"")), "say \"hi\"");
}

TEST(Cipher, RoundTrips) {
  std::string printable;
  for (int c = 0x20; c <= 0x9F; ++c) printable += static_cast<char>(c);
  const std::string texts[] = {"", "/a=1", "/proxy=\"cache:8080\" /verbatim=N", printable,
                               "tab\there \xE9t\xE9", std::string(251, 'q')};
  for (const std::string& text : texts) {
    const std::string line = qlib::encipher_line(text);
    EXPECT_EQ(line.size(), text.size() + 4);
    EXPECT_EQ(qlib::decipher_line(line), text) << text;
    EXPECT_EQ(qlib::decipher_line(line + "   "), text) << "trailing blanks do not count";
    if (text.size() > 6) {
      EXPECT_NE(line.substr(3, text.size()), text) << "the text is hidden";
    }
  }
  for (const char c : qlib::encipher_line(printable)) {
    EXPECT_GE(static_cast<unsigned char>(c), 0x20);
    EXPECT_LE(static_cast<unsigned char>(c), 0x9F);
  }
}

// Lines worked out from the layout rules apart from the code: the seed
// characters "K" and "Z", the check value 0x5197 as characters 2 and 3, then
// the text under both streams; bytes outside 0x20..0x9F pass unchanged.
TEST(Cipher, KnownLines) {
  const struct {
    std::string line;
    std::string text;
  } rows[] = {
      {"\x4B\x51\x97\x3A\x9D\x85\x69\x44\x40\x95\x42\x7D\x24\x5C\x30\x5A\x97\x45\x51\x67\x5A",
       "/target=c:\\comics"},
      {"\x23\x6E\x2F\x21\x6F\x90\x2B\x39\xE9\x4C\xE9\x7E", "/a=1 \xE9t\xE9"},
      {"\x71\x20\x20\x51", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(qlib::decipher_line(row.line), row.text) << row.text;
}

TEST(Cipher, Errors) {
  EXPECT_EQ(qlib::decipher_line(""), "");
  EXPECT_EQ(qlib::decipher_line("   "), "");
  std::string tampered = qlib::encipher_line("/target=c:\\comics");
  tampered[6] = static_cast<char>(tampered[6] == 'x' ? 'y' : 'x');
  std::string short_check = qlib::encipher_line("/a=1");
  short_check[1] = static_cast<char>(short_check[1] ^ 1);
  const std::string bad_lines[] = {"a", "abc", "abc   ", tampered, short_check};
  for (const std::string& line : bad_lines) {
    EXPECT_EQ(failure_of([&] { qlib::decipher_line(line); }), (failure{2459, "/unit=_params"}))
        << line;
  }
}

// Parameter files in a temporary directory that is the current directory,
// read through the tests' text-file type.
class Includes : public testing::Test {
 protected:
  Includes() : old_cwd_(fs::current_path()) { fs::current_path(dir_.path()); }
  ~Includes() override { fs::current_path(old_cwd_); }
  void TearDown() override { EXPECT_EQ(testing_support::text_file::live(), 0) << "a file was not freed"; }
  void file(const std::string& name, const std::string& contents) { write_file(dir_ / name, contents); }

  temp_dir dir_;
  fs::path old_cwd_;
  testing_support::text_file_registration text_files_;
};

TEST_F(Includes, LinesOfAFileInOrder) {
  // An "if" skips the rest of its own line only.
  file("options.txt", "/a=1\n\n(* a comment\n/b=2 /c=3\r\n/if=0 /y\n@inner.txt\n/d=4\n");
  file("inner.txt", "/e=5 ; the rest\n#f=6\n");
  EXPECT_EQ(params_of("/x=0 @options.txt /z=9"),
            (list{"x|0", "a|1", "b|2", "c|3", "e|5", "d|4", "z|9"}));
  EXPECT_EQ(params_of("@options.txt", 1), (list{"a|1", "b|2", "c|3", "e|5", "#f|6", "d|4"}));
}

TEST_F(Includes, WhereAParameterStands) {
  file("options.txt", "/a=1\n(* a comment *)\n/b=2\n");
  std::vector<std::string> positions;
  qlib::for_each_param(2, "/x @options.txt", 255, [&](qlib::t_par_base& current, const std::string&) {
    auto* reading = dynamic_cast<qlib::t_par_file*>(current.child.get());
    positions.push_back(current.param_position() + " " + (reading ? reading->param_position() : "-"));
  });
  EXPECT_EQ(positions, (list{"1 -", "2 options.txt#1", "2 options.txt#3"}));
}

TEST_F(Includes, ReferencesInTheNameAndSearches) {
  file("options.txt", "/a=1\n");
  ::setenv("QUORVEL_INCLUDE", "options.txt", 1);
  EXPECT_EQ(params_of("@%quorvel_include%"), list{"a|1"});
  ::unsetenv("QUORVEL_INCLUDE");
  EXPECT_EQ(params_of("@*OPTIONS.TXT"), list{"a|1"}) << "searched from the current directory";
  EXPECT_EQ(params_of("@?options.txt"), list{"a|1"});
  EXPECT_EQ(params_of("@@missing.txt /a=1"), list{"a|1"}) << "an optional include of no file";
}

TEST_F(Includes, FailuresEndTheIteration) {
  file("self.txt", "/a=1\n@self.txt\n");
  file("a.txt", "/a=1\n@b.txt\n");
  file("b.txt", "/b=2\n@@a.txt\n");
  file("spelled.txt", "/a=1\n@SPELLED.TXT\n");
  file("broken.txt", "/a=1\n/b=(\n");
  file("bad.txt", "---CIF---\n/a=1\n");
  const struct {
    const char* line;
    failure expected;
    const char* why;
  } rows[] = {
      {"@missing.txt /a=1", {2462, "/class=t_param/name=\"missing.txt\""}, "no such file"},
      {"@*nosuch.txt", {2462, "/class=t_param/name=\"\""}, "a search that finds nothing: an empty name"},
      {"@self.txt", {2455, "/class=t_param"}, "a file that includes itself"},
      {"@a.txt", {2455, "/class=t_param"}, "an optional include of a file being read is refused too"},
      {"@spelled.txt", {2455, "/class=t_param"}, "itself in another case"},
      {"@broken.txt", {2452, "/class=t_param"}, "an error inside a file"},
      {"@bad.txt", {2459, "/unit=_params"}, "a plain line after the cipher mark"},
  };
  for (const auto& row : rows) EXPECT_EQ(failure_of([&] { params_of(row.line); }), row.expected) << row.why;
}

// Design rule: includes nest at most 32 files deep, since a self-include
// spelled in another case would otherwise never end; the 33rd raises 2455.
TEST_F(Includes, AChainOfDifferentFilesNestsAtMost32Deep) {
  const auto chain = [&](int files) {
    for (int i = 0; i < files; ++i) {
      const std::string next = i + 1 < files ? "@f" + std::to_string(i + 1) + ".txt\n" : "";
      file("f" + std::to_string(i) + ".txt", "/p" + std::to_string(i) + "\n" + next);
    }
  };
  chain(32);
  EXPECT_EQ(params_of("@f0.txt").size(), 32u);
  chain(33);
  EXPECT_EQ(failure_of([] { params_of("@f0.txt"); }), (failure{2455, "/class=t_param"}));
}

TEST_F(Includes, FilesAreFreedWhenTheBodyRaises) {
  file("outer.txt", "@inner.txt\n");
  file("inner.txt", "/a=1\n");
  const failure error = failure_of([] {
    qlib::for_each_param(2, "@outer.txt", 255, [](qlib::t_par_base&, const std::string&) {
      EXPECT_EQ(testing_support::text_file::live(), 2);
      throw qlib::make_error(4711, "/from=body");
    });
  });
  EXPECT_EQ(error.code, 4711);
  EXPECT_EQ(error.context, "/from=body") << "the body's error passes unchanged";
}

TEST_F(Includes, EncipheredLines) {
  file("secret.txt", "/a=1\n---CIF---\n" + qlib::encipher_line("/b=2 /c=%quorvel_no_such_var%x") +
                         "\n\n" + qlib::encipher_line("(* hidden comment") + "\n");
  EXPECT_EQ(params_of("@secret.txt"), (list{"a|1", "b|2", "c|x"}));
}

TEST_F(Includes, TheCurrentParameterOfAnExhaustedSourceIsAnError) {
  auto source = qlib::create_object<qlib::t_param>();
  source->start(2, "/a");
  EXPECT_TRUE(source->next_param());
  EXPECT_FALSE(source->next_param());
  EXPECT_EQ(failure_of([&] { source->param_text(); }), (failure{2451, "/class=t_param"}));

  file("one.txt", "/a\n");
  auto file_object = qlib::open_param_file("one.txt");
  auto reader = qlib::create_object<qlib::t_par_file>();
  reader->start(2, file_object.get());
  EXPECT_EQ(failure_of([&] { reader->param_text(); }).code, 0) << "active after start";
  EXPECT_TRUE(reader->next_param());
  EXPECT_FALSE(reader->next_param());
  EXPECT_EQ(failure_of([&] { reader->param_text(); }).context, "/class=t_par_file");
}

}  // namespace
