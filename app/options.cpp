// The options, the usage text and the comic list.
#include "app/options.hpp"

#include <iostream>

#include "app/comics.hpp"
#include "lib/chars.hpp"
#include "lib/error_codes.hpp"
#include "lib/params.hpp"
#include "lib/system.hpp"
#include "lib/types.hpp"

namespace app {
namespace {

// The right column of the usage text starts after this many characters.
constexpr std::size_t usage_column = 29;
// Keys are padded to this width in the comic list.
constexpr std::size_t key_width = 20;

std::string padded(std::string_view text, std::size_t width) {
  std::string result(text.substr(0, width));
  result.append(width - result.size(), ' ');
  return result;
}

std::string usage_line(std::string_view option, std::string_view text) {
  return padded(option, usage_column) + std::string(text) + "\n";
}

void SelectComic(const std::string& value, TSettings& settings) {
  if (value == "list") {
    std::cout << ComicList();
    qlib::halt(0);
  }
  bool found = false;
  for (std::size_t row = 0; row < Comics.size(); ++row) {
    if (Comics[row].Key != value) continue;
    settings.ComicIndex = static_cast<std::uint8_t>(row);
    found = true;
  }
  if (!found) throw qlib::make_error(qlib::err_unknown_comic, "");
}

}  // namespace

TSettings Settings;

std::string UsageText() {
  return "Usage: quorvel {options}\n" +
         usage_line("[/mode={quorvel|cricket|..}]", "Select wether to get Quorvel or Cricket strips") +
         usage_line("", "Default is of course quorvel") +
         usage_line("", "For the full list of comics enter /mode=list") +
         usage_line("[/target=]", "The directory for the comics, already existing") +
         usage_line("", "ones won't be reloaded; default is the current") +
         usage_line("", "directory") +
         usage_line("[/proxy=server[:port]]", "Don't download directly but via the proxy server") +
         usage_line("[/verbatim={Y|N}]", "Show progress; default Yes");
}

std::string ComicList() {
  std::string list = "Possible settings of mode and the resulting comic\n\n";
  for (const TComic& comic : Comics)
    list += "/mode=" + padded(comic.Key, key_width) + std::string(comic.Title) + "\n";
  return list;
}

void HandleOptions(std::string_view line, TSettings& settings) {
  qlib::for_each_param(2, qlib::short_str(line), qlib::short_max,
                       [&](qlib::t_par_base& current, const std::string& name) {
                         if (name == "mode") {
                           SelectComic(qlib::lower_ascii(current.get_value()), settings);
                         } else if (name == "target") {
                           settings.TargetDir = qlib::short_str(current.get_value());
                         } else if (name == "verbatim") {
                           settings.ShowProgress = current.get_yes_no();
                         } else if (name == "omit_proxy") {
                           settings.NoCacheSetting = current.get_yes_no();
                         } else if (name == "proxy") {
                           settings.ProxyServer = qlib::short_str(qlib::unquote_str(current.get_value()));
                         } else if (name == "connections") {
                           const std::int32_t value = current.get_int();
                           if (value < 1 || value > max_connections)
                             throw qlib::make_error(qlib::err_connections_out_of_range,
                                                    "/connections=" + std::to_string(value) +
                                                        "/range=1-" + std::to_string(max_connections));
                           settings.Connections = value;
                         } else if (name == "help") {
                           std::cout << UsageText();
                           qlib::halt(0);
                         }
                       });
}

void HandleOptions(std::string_view line) { HandleOptions(line, Settings); }

void HandleHelpWords(std::string_view command_line) {
  const std::string word = qlib::lower_ascii(qlib::trim_blanks(command_line));
  if (word != "--help" && word != "-h" && word != "-?" && word != "/?") return;
  std::cout << UsageText();
  qlib::halt(0);
}

}  // namespace app
