// Pages and images of the comics web site, built from the catalogue.
#include "server/comic_site.hpp"

#include <optional>
#include <random>

#include "server/comic_feed.hpp"
#include "server/strip_gif.hpp"

namespace server {
namespace {

constexpr std::string_view archive_segment = "/archive/";
constexpr std::string_view day_prefix = "cal-";
constexpr std::string_view day_suffix = ".html";
constexpr std::string_view images_segment = "images/";
constexpr std::string_view extra_suffix = "-extra.gif";
constexpr std::string_view strip_suffix = ".gif";
// The name of the calendar's selection list, and so of its form's query.
constexpr std::string_view choice_name = "day";

constexpr std::string_view year_prefix = "year-";
constexpr std::string_view feed_name = "feed.atom";
// Sends the browser on to a day of the comic's archive, chosen at random.
constexpr std::string_view random_name = "random";
// Small enough to read at once; narrow screens get one column of everything.
constexpr std::string_view stylesheet = R"(body {
  margin: 0;
  font: 1rem/1.5 system-ui, sans-serif;
  color: #222;
  background: #f7f5ef;
}
header { background: #2b4a6f; padding: 0.5rem 1rem; }
header a { color: #fff; font-weight: bold; text-decoration: none; }
main { max-width: 62rem; margin: 0 auto; padding: 0 1rem 2rem; }
a { color: #1d5fa8; }
h1 { font-size: 1.6rem; margin: 1rem 0 0.25rem; }
h2 { font-size: 1.15rem; margin: 0.25rem 0 0.5rem; }
img { max-width: 100%; height: auto; }
.comics {
  list-style: none;
  padding: 0;
  display: grid;
  grid-template-columns: repeat(auto-fill, minmax(16rem, 1fr));
  gap: 1rem;
}
.comics li { background: #fff; border: 1px solid #ddd; border-radius: 6px; padding: 0.5rem 0.75rem; }
.comics img { display: block; width: 100%; }
.comics p { margin: 0.25rem 0 0; color: #555; }
.days { display: flex; flex-wrap: wrap; gap: 0.25rem 1.25rem; margin: 0.5rem 0 1rem; }
.days span { color: #999; }
.strip img { background: #fff; border: 1px solid #ccc; }
.years { display: flex; flex-wrap: wrap; gap: 0.25rem 1rem; margin: 0.5rem 0 1rem; }
form { margin: 1rem 0; }
select, button { font: inherit; padding: 0.25rem 0.5rem; }
.months { display: flex; flex-wrap: wrap; gap: 1.5rem; }
.month { border-collapse: separate; border-spacing: 3px; }
.month caption { font-weight: bold; text-align: left; }
.month th, .month td { width: 2.2rem; height: 2rem; padding: 0; text-align: center; color: #999; }
.month th { color: #555; font-weight: normal; }
.month a {
  display: block;
  line-height: 2rem;
  background: #fff;
  border: 1px solid #ccd;
  border-radius: 4px;
  text-decoration: none;
}
)";

// With a comic, the page names the comic's feed.
std::string page_head(std::string_view title, const app::TComic* comic = nullptr) {
  std::string head = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                     escape_html(title) + "</title>\n<link rel=\"stylesheet\" href=\"" +
                     std::string(stylesheet_path) + "\">\n";
  if (comic)
    head += "<link rel=\"alternate\" type=\"" + std::string(feed_type) + "\" title=\"" +
            escape_html(display_title(comic->Title)) + "\" href=\"" + feed_path(*comic) + "\">\n";
  // An empty icon, so that browsers do not ask for /favicon.ico.
  return head + "<link rel=\"icon\" href=\"data:,\">\n</head>\n<body>\n"
                "<header><a href=\"/\">Comics</a></header>\n<main>\n";
}

constexpr std::string_view page_end = "</main>\n</body>\n</html>\n";

std::string link(std::string_view href, std::string_view text) {
  return "<a href=\"" + std::string(href) + "\">" + escape_html(text) + "</a>";
}

std::string image_line(const app::TComic& comic, std::string_view name, int width, int height,
                       std::string_view alt) {
  return "<img src=\"" + image_path(comic, name) + "\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) + "\" alt=\"" + escape_html(alt) + "\">\n";
}

response html(std::string body) { return {200, "text/html", std::move(body)}; }

// The day a name of the form PREFIX + YYYYMMDD + SUFFIX stands for.
std::optional<day> dated_name(std::string_view name, std::string_view prefix,
                              std::string_view suffix) {
  if (name.size() != prefix.size() + 8 + suffix.size()) return std::nullopt;
  if (name.substr(0, prefix.size()) != prefix || name.substr(prefix.size() + 8) != suffix)
    return std::nullopt;
  return parse_compact_date(name.substr(prefix.size(), 8));
}

// "year-YYYY.html": the year of a year page.
std::optional<int> year_name(std::string_view name) {
  if (name.size() != year_prefix.size() + 4 + day_suffix.size()) return std::nullopt;
  if (name.substr(0, year_prefix.size()) != year_prefix || name.substr(year_prefix.size() + 4) != day_suffix)
    return std::nullopt;
  int year = 0;
  for (char c : name.substr(year_prefix.size(), 4)) {
    if (c < '0' || c > '9') return std::nullopt;
    year = year * 10 + (c - '0');
  }
  return year;
}

response gif(std::optional<std::string> bytes) {
  if (!bytes) return status_page(404);
  return {200, "image/gif", std::move(*bytes)};
}

// A held day chosen at random; the comic holds at least one.
day random_day(const comic_days& held) {
  thread_local std::minstd_rand generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, held.days.size() - 1);
  return held.days[pick(generator)];
}

response random_answer(const app::TComic& comic, const strip_source& source) {
  const comic_days held = source.days(comic);
  if (held.empty()) return status_page(404);
  response answer = status_page(303);
  answer.location = day_path(comic, random_day(held));
  return answer;
}

response serve_comic(const app::TComic& comic, std::string_view rest, const strip_source& source) {
  if (rest.empty()) return html(calendar_page(comic, source));
  if (rest == random_name) return random_answer(comic, source);
  if (rest == feed_name) return {200, std::string(feed_type), comic_feed(comic, source)};
  if (const auto d = dated_name(rest, day_prefix, day_suffix); d && source.days(comic).holds(*d))
    return html(day_page(comic, *d, source));
  if (const auto year = year_name(rest)) {
    if (auto page = year_page(comic, *year, source)) return html(std::move(*page));
    return status_page(404);
  }
  if (rest.substr(0, images_segment.size()) != images_segment) return status_page(404);

  const std::string_view name = rest.substr(images_segment.size());
  const std::string image_prefix = std::string(comic.Key) + "-";
  if (const auto d = dated_name(name, image_prefix, strip_suffix)) return gif(source.strip(comic, *d, false));
  if (const auto d = dated_name(name, image_prefix, extra_suffix)) return gif(source.strip(comic, *d, true));
  return status_page(404);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A form value as browsers send it: "+" for a blank, "%XX" for a byte.
// Nothing when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> form_decode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hex_digit(text[i + 1]);
      const int low = hex_digit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return out;
}

// The value of the first field `name` in a query "a=1&b=2".
std::optional<std::string> query_field(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::string_view field = query.substr(0, query.find('&'));
    query.remove_prefix(std::min(query.size(), field.size() + 1));
    const auto equals = field.find('=');
    if (equals == std::string_view::npos || field.substr(0, equals) != name) continue;
    return form_decode(field.substr(equals + 1));
  }
  return std::nullopt;
}

// The calendar's Go button without JavaScript: a request for a calendar with
// a chosen day page in its query gets that day's page. A choice that is no
// archived day of that comic gets the calendar itself.
std::optional<response> chosen_day(std::string_view path, std::string_view query,
                                   const strip_source& source) {
  if (query.empty()) return std::nullopt;
  const auto choice = query_field(query, choice_name);
  if (!choice) return std::nullopt;
  for (const app::TComic& comic : app::Comics) {
    const std::string base = calendar_path(comic);
    if (path != base) continue;
    if (!source.shows(comic) || choice->compare(0, base.size(), base) != 0) return std::nullopt;
    const auto d = dated_name(std::string_view(*choice).substr(base.size()), day_prefix, day_suffix);
    if (!d || !source.days(comic).holds(*d)) return std::nullopt;
    return html(day_page(comic, *d, source));
  }
  return std::nullopt;
}

// One month of the calendar as a table of weeks from Monday to Sunday; the
// archived days are links to their pages.
std::string month_table(const app::TComic& comic, std::chrono::year_month month, const comic_days& held) {
  using namespace std::chrono;
  const day first = sys_days{month / 1};
  const day last = sys_days{month / std::chrono::last};
  std::string table = "<table class=\"month\">\n<caption>" + month_heading(first) +
                      "</caption>\n<thead>\n<tr>";
  for (const char* name : {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"})
    table += std::string("<th scope=\"col\">") + name + "</th>";
  table += "</tr>\n</thead>\n<tbody>\n<tr>";
  const unsigned lead = weekday{first}.iso_encoding() - 1;
  for (unsigned i = 0; i < lead; ++i) table += "<td></td>";
  unsigned column = lead;
  for (day d = first; d <= last; d += days{1}) {
    if (column == 7) {
      table += "</tr>\n<tr>";
      column = 0;
    }
    const std::string number = std::to_string(static_cast<unsigned>(year_month_day{d}.day()));
    table += "<td>" + (held.holds(d) ? link(day_path(comic, d), number) : number) + "</td>";
    ++column;
  }
  for (; column < 7; ++column) table += "<td></td>";
  table += "</tr>\n</tbody>\n</table>\n";
  return table;
}

// The months from `newest` back to `oldest` that hold archived days, newest first.
std::string month_grid(const app::TComic& comic, const comic_days& held, day newest_day, day oldest_day) {
  using namespace std::chrono;
  const year_month_day newest{newest_day};
  const year_month_day oldest{oldest_day};
  const year_month stop = oldest.year() / oldest.month();
  std::string grid = "<div class=\"months\">\n";
  for (year_month month = newest.year() / newest.month(); month >= stop; month -= months{1}) {
    const auto next = held.after(sys_days{month / 1} - days{1});
    if (!next || *next > sys_days{month / std::chrono::last}) continue;
    grid += month_table(comic, month, held);
  }
  grid += "</div>\n";
  return grid;
}

int year_of(day d) { return static_cast<int>(std::chrono::year_month_day{d}.year()); }

// Whether the comic's days span more than one year: its calendar then shows
// one year at a time.
bool by_year(const comic_days& held) { return !held.empty() && year_of(held.first()) != year_of(held.last()); }

std::string year_path(const app::TComic& comic, int year) {
  return calendar_path(comic) + std::string(year_prefix) + std::to_string(year) + std::string(day_suffix);
}

// Links to every year that holds days, newest first; the year shown is no link.
std::string year_menu(const app::TComic& comic, const comic_days& held, int shown) {
  std::string menu = "<nav class=\"years\" aria-label=\"Years\">\n";
  for (int year = year_of(held.last()); year >= year_of(held.first()); --year) {
    const auto in_year = held.after(std::chrono::sys_days{std::chrono::year{year} / 1 / 1} - std::chrono::days{1});
    if (!in_year || year_of(*in_year) != year) continue;
    menu += (year == shown ? "<span>" + std::to_string(year) + "</span>"
                           : link(year_path(comic, year), std::to_string(year))) + "\n";
  }
  return menu + "</nav>\n";
}

// The grid of one year's months.
std::string year_grid(const app::TComic& comic, const comic_days& held, int year) {
  using namespace std::chrono;
  return month_grid(comic, held, sys_days{std::chrono::year{year} / 12 / 31},
                    sys_days{std::chrono::year{year} / 1 / 1});
}

// A link to another day, or its plain name where there is none to go to.
std::string day_link(const app::TComic& comic, std::optional<day> to, std::string_view text) {
  return to ? link(day_path(comic, *to), text) : "<span>" + escape_html(text) + "</span>";
}

std::string day_navigation(const app::TComic& comic, day d, const comic_days& held,
                           std::string_view label) {
  const bool first = d <= held.first();
  const bool latest = d >= held.last();
  std::string nav = "<nav class=\"days\" aria-label=\"" + std::string(label) + "\">\n";
  nav += day_link(comic, first ? std::nullopt : std::optional(held.first()), "First") + "\n";
  nav += day_link(comic, held.before(d), "Previous") + "\n";
  nav += link(calendar_path(comic), "Archive") + "\n";
  nav += link(calendar_path(comic) + std::string(random_name), "Random") + "\n";
  nav += day_link(comic, held.after(d), "Next") + "\n";
  nav += day_link(comic, latest ? std::nullopt : std::optional(held.last()), "Latest") + "\n";
  return nav + "</nav>\n";
}

}  // namespace

std::string feed_path(const app::TComic& comic) { return calendar_path(comic) + std::string(feed_name); }

std::string escape_html(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string calendar_path(const app::TComic& comic) {
  return "/" + std::string(comic.Section) + "/" + std::string(comic.Key) + std::string(archive_segment);
}

std::string day_path(const app::TComic& comic, day d) {
  return calendar_path(comic) + std::string(day_prefix) + compact_date(d) + std::string(day_suffix);
}

std::string strip_name(const app::TComic& comic, day d) {
  return std::string(comic.Key) + "-" + compact_date(d) + std::string(strip_suffix);
}

std::string extra_name(const app::TComic& comic, day d) {
  return std::string(comic.Key) + "-" + compact_date(d) + std::string(extra_suffix);
}

std::string image_path(const app::TComic& comic, std::string_view name) {
  return calendar_path(comic) + std::string(images_segment) + std::string(name);
}

std::string calendar_page(const app::TComic& comic, const strip_source& source) {
  const std::string title = display_title(comic.Title);
  const std::string base = calendar_path(comic);
  const comic_days held = source.days(comic);
  std::string page = page_head(title + ": the archive", &comic);
  page += "<h1>" + escape_html(title) + "</h1>\n";
  page += "<p>" + escape_html(source.summary(held));
  if (!held.empty())
    page += " " + link(day_path(comic, held.last()), "The latest strip") + ", " +
            calendar_date(held.last()) + ".";
  page += " <a href=\"" + feed_path(comic) + "\" type=\"" + std::string(feed_type) +
          "\">Follow it (Atom feed)</a>.</p>\n";
  // The form works without JavaScript: Go asks this page again with the
  // choice, and the server sends the browser on to the chosen day.
  page += "<form action=\"" + base + "\" method=\"get\">\n<label for=\"day\">Go to a day</label>\n";
  page += "<select id=\"day\" name=\"" + std::string(choice_name) +
          "\" onchange=\"if (this.value) location.href = this.value\">\n";
  page += "<option value=\"\">Choose a day</option>\n";
  for (auto d = held.days.rbegin(); d != held.days.rend(); ++d)
    page += "<option value=\"" + day_path(comic, *d) + "\">" + calendar_date(*d) + "\n";
  page += "</select>\n<button type=\"submit\">Go</button>\n</form>\n";
  if (held.empty()) {
    page += "<p>No strips are archived.</p>\n";
  } else if (by_year(held)) {
    page += year_menu(comic, held, year_of(held.last())) + year_grid(comic, held, year_of(held.last()));
  } else {
    page += month_grid(comic, held, held.last(), held.first());
  }
  page += "<p>" + link("/", "All comics") + "</p>\n";
  page += page_end;
  return page;
}

std::optional<std::string> year_page(const app::TComic& comic, int year, const strip_source& source) {
  const comic_days held = source.days(comic);
  if (!by_year(held) || year < year_of(held.first()) || year > year_of(held.last())) return std::nullopt;
  const std::string title = display_title(comic.Title);
  std::string page = page_head(title + ": " + std::to_string(year), &comic);
  page += "<h1>" + link(calendar_path(comic), title) + "</h1>\n";
  page += "<h2>" + std::to_string(year) + "</h2>\n";
  page += year_menu(comic, held, year) + year_grid(comic, held, year);
  page += "<p>" + link(calendar_path(comic), "Archive") + " " + link("/", "All comics") + "</p>\n";
  page += page_end;
  return page;
}

std::string day_page(const app::TComic& comic, day d, const strip_source& source) {
  const std::string title = display_title(comic.Title);
  const comic_days held = source.days(comic);

  const auto next = held.after(d);
  std::string page = page_head(title + " for " + long_date(d), &comic);
  page += "<h1>" + link(calendar_path(comic), title) + "</h1>\n";
  page += "<h2>" + long_date(d) + "</h2>\n";
  page += day_navigation(comic, d, held, "Days");
  // The strip leads on to the next day, as readers of comics sites expect.
  page += "<p class=\"strip\">\n";
  if (next) page += "<a href=\"" + day_path(comic, *next) + "\" title=\"Next\">\n";
  page += image_line(comic, strip_name(comic, d), strip_width, strip_height,
                     title + ", " + calendar_date(d));
  if (next) page += "</a>\n";
  page += "</p>\n";
  if (source.sunday_extras() && is_sunday(d)) {
    page += "<p>And on Sundays one panel more:</p>\n<p class=\"strip\">\n";
    page += image_line(comic, extra_name(comic, d), extra_width, extra_height,
                       title + ", Sunday extra");
    page += "</p>\n";
  }
  page += day_navigation(comic, d, held, "Days, below the strip");
  page += page_end;
  return page;
}

std::string index_page(const strip_source& source) {
  std::string page = page_head("Comics");
  page += "<h1>Comics</h1>\n<p>" + escape_html(source.summary()) +
          " Choose a strip to read on from it, or a title for its archive.</p>\n"
          "<ul class=\"comics\">\n";
  for (const app::TComic& comic : app::Comics) {
    if (!source.shows(comic)) continue;
    const std::string title = display_title(comic.Title);
    const comic_days held = source.days(comic);
    page += "<li>\n<h2>" + link(calendar_path(comic), title) + "</h2>\n";
    if (held.empty()) {
      page += "<p>No strips are archived.</p>\n</li>\n";
      continue;
    }
    page += "<a href=\"" + day_path(comic, held.last()) + "\"><img src=\"" +
            image_path(comic, strip_name(comic, held.last())) + "\" width=\"" +
            std::to_string(strip_width) + "\" height=\"" + std::to_string(strip_height) +
            "\" alt=\"" + escape_html(title) + ", the latest strip\"></a>\n";
    page += "<p>" + calendar_date(held.last()) + "</p>\n</li>\n";
  }
  page += "</ul>\n";
  page += page_end;
  return page;
}

response serve(std::string_view path, const strip_source& source, std::string_view query) {
  if (path == "/") return html(index_page(source));
  if (path == stylesheet_path) return {200, "text/css", std::string(stylesheet)};
  if (auto chosen = chosen_day(path, query, source)) return std::move(*chosen);
  for (const app::TComic& comic : app::Comics) {
    const std::string base = calendar_path(comic);
    if (path.substr(0, base.size()) != base) continue;
    if (!source.shows(comic)) return status_page(404);
    return serve_comic(comic, path.substr(base.size()), source);
  }
  return status_page(404);
}

}  // namespace server
