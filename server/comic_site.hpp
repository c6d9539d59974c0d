// The comics web site: for every comic of the catalogue an archive calendar
// page, a page per archived day and the strip images, at the addresses the
// program's archive scan requests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/comics.hpp"
#include "server/archive_day.hpp"
#include "server/http_exchange.hpp"
#include "server/strip_source.hpp"

namespace server {

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
// "/SECTION/KEY/archive/feed.atom"
std::string feed_path(const app::TComic& comic);
// "/SECTION/KEY/archive/images/" + name
std::string image_path(const app::TComic& comic, std::string_view name);

// The calendar: a selection list with one line per archived day, newest
// first, each exactly
// <option value="/SECTION/KEY/archive/cal-YYYYMMDD.html">Mon. DD, YYYY
// and a Go button that asks this page again with "?day=PATH";
// then a grid of links per month. No other line holds "<option value=".
std::string calendar_page(const app::TComic& comic, const strip_source& source);
// A day: the date, links to the first, previous, next, latest and a random
// day above and below the strip, the strip itself a link to the next day,
// and the strip's image reference on a line of its own, on Sundays with
// extras the extra one on the next such line. No other line names the image
// folder.
std::string day_page(const app::TComic& comic, day d, const strip_source& source);
// A long archive's year: that year's month grids and the year menu; nothing
// when the calendar shows no years or holds no such year.
std::optional<std::string> year_page(const app::TComic& comic, int year, const strip_source& source);
// "/": every comic shown with its latest strip.
std::string index_page(const strip_source& source);

// The answer to a request for `path` with `query` (the text after "?"): a
// page, an image, the stylesheet, or 404. A calendar asked with the query of
// its own form answers with the chosen day's page.
response serve(std::string_view path, const strip_source& source, std::string_view query = {});

// The same for the strips the site draws for a window of days.
inline std::string calendar_page(const app::TComic& comic, const archive_window& window) {
  return calendar_page(comic, rendered_strips(window));
}
inline std::string day_page(const app::TComic& comic, day d, const archive_window& window) {
  return day_page(comic, d, rendered_strips(window));
}
inline std::string index_page(const archive_window& window) { return index_page(rendered_strips(window)); }
inline response serve(std::string_view path, const archive_window& window, std::string_view query = {}) {
  return serve(path, rendered_strips(window), query);
}

}  // namespace server
