// The README and the manual pages against the programs they describe: the
// pages render without warnings, name every option the programs take and no
// other, list the catalogue as it is, and README and quorvel(1) explain the
// same error reports.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/comics.hpp"
#include "app/options.hpp"
#include "server/server_options.hpp"
#include "tests/support/run.hpp"

namespace {

using testing_support::read_file;

const std::string man_dir = QUORVEL_MAN_DIR;
const std::string readme_path = std::string(QUORVEL_SOURCE_DIR) + "/README.md";

// The text of a section: from its heading line to the next heading of the
// same kind (".SH " in a manual page, "## " in the README).
std::string section(const std::string& text, const std::string& heading, const std::string& marker) {
  const auto start = text.find("\n" + heading + "\n");
  if (start == std::string::npos) return "";
  const auto end = text.find("\n" + marker, start + heading.size() + 1);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> all_matches(const std::string& text, const std::string& pattern) {
  std::set<std::string> found;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    found.insert((*it)[1]);
  return found;
}

TEST(Docs, ManualPagesRenderWithoutWarnings) {
  for (const char* page : {"quorvel.1", "comics-server.1"}) {
    const auto result = testing_support::run(GROFF_BIN, {"-man", "-ww", "-z", man_dir + "/" + page});
    EXPECT_EQ(result.exit_code, 0) << page;
    EXPECT_EQ(result.err, "") << page;
    EXPECT_FALSE(std::regex_search(read_file(man_dir + "/" + page), std::regex("@[A-Z_]+@")))
        << page << ": every placeholder filled in";
  }
}

TEST(Docs, ComicsServerOptionsAreTheSameInHelpManualAndReadme) {
  const std::set<std::string> program = all_matches(server::usage_text("http://localhost:8642"), "  (--[a-z]+)");
  ASSERT_GE(program.size(), 5u);
  const std::string page = read_file(man_dir + "/comics-server.1");
  std::set<std::string> manual;
  for (const std::string& option : all_matches(section(page, ".SH OPTIONS", ".SH "), "\\\\-\\\\-([a-z]+)"))
    manual.insert("--" + option);
  EXPECT_EQ(manual, program) << "the OPTIONS of comics-server(1)";

  const std::string readme = read_file(readme_path);
  const auto synopsis = readme.find("comics-server [");
  ASSERT_NE(synopsis, std::string::npos);
  const std::string line = readme.substr(synopsis, readme.find('\n', synopsis) - synopsis);
  for (const std::string& option : program) {
    if (option == "--help" || option == "--version") continue;
    EXPECT_NE(line.find("[" + option), std::string::npos) << option << " in the README's synopsis";
  }
}

TEST(Docs, QuorvelsManualExplainsEveryOptionOfTheUsageText) {
  const std::set<std::string> usage = all_matches(app::UsageText(), "\\[/([a-z_]+)");
  ASSERT_EQ(usage.size(), 4u);
  const std::string options = section(read_file(man_dir + "/quorvel.1"), ".SH OPTIONS", ".SH ");
  for (const std::string& option : usage)
    EXPECT_TRUE(std::regex_search(options, std::regex("\\n\\.B[IR]? /" + option + "\\b"))) << option;
  for (const char* unlisted : {"help", "omit_proxy", "ver", "connections"})
    EXPECT_TRUE(std::regex_search(options, std::regex(std::string("\\n\\.B[IR]? /") + unlisted + "\\b")))
        << unlisted;
}

TEST(Docs, QuorvelsManualListsTheCatalogueWithItsPrefixes) {
  const std::string files = section(read_file(man_dir + "/quorvel.1"), ".SH FILES", ".SH ");
  std::size_t rows = 0;
  for (const app::TComic& comic : app::Comics) {
    const std::string key(comic.Key);
    const std::regex row("\\n" + key + " +" + std::string(comic.Prefix) + " +([^\\n]*)\\n");
    std::smatch found;
    if (!std::regex_search(files, found, row)) {
      ADD_FAILURE() << key << " has no row of its own";
      continue;
    }
    EXPECT_EQ(found[1].str(), comic.Title) << key;
    ++rows;
  }
  EXPECT_EQ(rows, app::comic_count);
}

// The codes and error classes named in the headings of the explanations: the
// line after each ".TP" of the manual's DIAGNOSTICS, the first cell of each
// row of the README's table.
std::set<std::string> reports_in(const std::vector<std::string>& headings) {
  std::set<std::string> found;
  for (const std::string& heading : headings)
    for (const std::string& name : all_matches(heading, "\\b([0-9]{3,4}|E[A-Za-z_]*Error|EDivByZero)\\b"))
      found.insert(name);
  return found;
}

TEST(Docs, ReadmeAndManualExplainTheSameErrorReports) {
  const std::string page = section(read_file(man_dir + "/quorvel.1"), ".SH DIAGNOSTICS", ".SH ");
  std::vector<std::string> manual;
  for (auto at = page.find("\n.TP\n"); at != std::string::npos; at = page.find("\n.TP\n", at + 1)) {
    const auto from = at + 5;
    manual.push_back(page.substr(from, page.find('\n', from) - from));
  }
  const std::string table = section(read_file(readme_path), "## Exit status and errors", "## ");
  std::vector<std::string> readme;
  for (auto at = table.find("\n| "); at != std::string::npos; at = table.find("\n| ", at + 1)) {
    const auto from = at + 3;
    readme.push_back(table.substr(from, table.find(" | ", from) - from));
  }
  ASSERT_GE(manual.size(), 10u);
  ASSERT_GE(readme.size(), 10u);
  const std::set<std::string> in_readme = reports_in(readme);
  EXPECT_EQ(in_readme, reports_in(manual));
  for (const char* expected : {"2024", "2030", "2031", "2032", "EFCreateError", "EWriteError", "E_TcpIpError"})
    EXPECT_EQ(in_readme.count(expected), 1u) << expected;
}

}  // namespace
