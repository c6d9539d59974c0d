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
};

// The title as people read it: the catalogue writes "&" as "&&".
std::string display_title(std::string_view title);
std::string escape_html(std::string_view text);

// "/SECTION/KEY/archive/"
std::string calendar_path(const app::TComic& comic);
// "/SECTION/KEY/archive/cal-YYYYMMDD.html"
std::string day_path(const app::TComic& comic, day d);
// "KEY-YYYYMMDD.gif", and the Sunday extra "KEY-YYYYMMDD-extra.gif"
std::string strip_name(const app::TComic& comic, day d);
std::string extra_name(const app::TComic& comic, day d);
// "/SECTION/KEY/archive/images/" + name
std::string image_path(const app::TComic& comic, std::string_view name);

// The calendar: one line per archived day, newest first, each exactly
// <option value="/SECTION/KEY/archive/cal-YYYYMMDD.html">Mon. DD, YYYY
std::string calendar_page(const app::TComic& comic, const archive_window& window);
// A day: the strip's image reference on a line of its own, on Sundays the
// extra one on the next such line.
std::string day_page(const app::TComic& comic, day d, const archive_window& window);
// "/": the list of comics.
std::string index_page(const archive_window& window);

// The answer to a request for `path` (no query): a page, an image, or 404.
response serve(std::string_view path, const archive_window& window);

}  // namespace server
