// The comics web site: for every comic of the catalogue an archive calendar
// page, a page per archived day and the strip images, at the addresses the
// program's archive scan requests.
#pragma once

#include <string>
#include <string_view>

#include "app/comics.hpp"
#include "server/archive_day.hpp"
#include "server/http_exchange.hpp"

namespace server {

// The archived days: `days` of them, ending with `today` (never before year 1).
struct archive_window {
  day today;
  int days;
  bool holds(day d) const;
  // The first archived day; today when nothing is archived.
  day oldest() const;
};

// The title as people read it: the catalogue writes "&" as "&&".
std::string display_title(std::string_view title);
std::string escape_html(std::string_view text);

// "/site.css", the stylesheet every page links.
inline constexpr std::string_view stylesheet_path = "/site.css";

// "/SECTION/KEY/archive/"
std::string calendar_path(const app::TComic& comic);
// "/SECTION/KEY/archive/cal-YYYYMMDD.html"
std::string day_path(const app::TComic& comic, day d);
// "KEY-YYYYMMDD.gif", and the Sunday extra "KEY-YYYYMMDD-extra.gif"
std::string strip_name(const app::TComic& comic, day d);
std::string extra_name(const app::TComic& comic, day d);
// "/SECTION/KEY/archive/images/" + name
std::string image_path(const app::TComic& comic, std::string_view name);

// The calendar: a selection list with one line per archived day, newest
// first, each exactly
// <option value="/SECTION/KEY/archive/cal-YYYYMMDD.html">Mon. DD, YYYY
// and a Go button that asks this page again with "?day=PATH";
// then a grid of links per month. No other line holds "<option value=".
std::string calendar_page(const app::TComic& comic, const archive_window& window);
// A day: the date, links to the first, previous, next and latest day, and the
// strip's image reference on a line of its own, on Sundays the extra one on
// the next such line. No other line names the image folder.
std::string day_page(const app::TComic& comic, day d, const archive_window& window);
// "/": every comic with its latest strip.
std::string index_page(const archive_window& window);

// The answer to a request for `path` with `query` (the text after "?"): a
// page, an image, the stylesheet, or 404. A calendar asked with the query of
// its own form answers with the chosen day's page.
response serve(std::string_view path, const archive_window& window, std::string_view query = {});

}  // namespace server
