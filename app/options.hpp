// The program-wide settings and the options that set them: DefaultParams,
// HandleOptions, the usage text and the comic list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

struct TSettings {
  std::string ProxyServer;   // "proxy", unquoted; empty: fetch directly
  std::string TargetDir;     // "target", as given; DefaultParams makes it "."
  bool ShowProgress = true;  // "verbatim"
  bool NoCacheSetting = false;  // "omit_proxy"
  std::uint8_t ComicIndex = 0;  // "mode": the row of Comics; DefaultParams makes it 7
  int Connections = 1;          // "connections": requests in flight at once
};

// The most requests in flight at once that "/connections" allows.
inline constexpr int max_connections = 8;

// The settings the program runs with; written only by HandleOptions.
extern TSettings Settings;

// Read before the command line, so that the command line overrides it
// option by option.
inline constexpr std::string_view DefaultParams = "/target=. /mode=quorvel";

// Applies the options of one parameter line to `settings`. "help" prints the
// usage text and the mode value "list" the comic list; both end the program
// with exit code 0. A comic key not in the catalogue is error 2024 with an
// empty context; a "connections" value outside 1 to max_connections is error
// 2033. Other names are ignored.
void HandleOptions(std::string_view line, TSettings& settings);
void HandleOptions(std::string_view line);

// A command line that is only "--help", "-h", "-?" or "/?" (in any letter
// case, blanks around it aside) prints the usage text and ends the program
// with exit code 0, as "/help" does; any other line is left to HandleOptions.
// The parser would read "--help" as a comment and "-h" and "/?" as unknown
// names, and go on to download.
void HandleHelpWords(std::string_view command_line);

// The usage text and the comic list, each line ended by a line break.
std::string UsageText();
std::string ComicList();

}  // namespace app
