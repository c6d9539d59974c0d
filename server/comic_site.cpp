// Pages and images of the comics web site, built from the catalogue.
#include "server/comic_site.hpp"

#include "server/strip_gif.hpp"

namespace server {
namespace {

constexpr std::string_view archive_segment = "/archive/";
constexpr std::string_view day_prefix = "cal-";
constexpr std::string_view day_suffix = ".html";
constexpr std::string_view images_segment = "images/";
constexpr std::string_view extra_suffix = "-extra.gif";
constexpr std::string_view strip_suffix = ".gif";

const day first_day = std::chrono::sys_days{std::chrono::year{1} / 1 / 1};

std::string page_head(std::string_view title) {
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"us-ascii\">\n<title>" +
         escape_html(title) + "</title>\n</head>\n<body>\n";
}

constexpr std::string_view page_end = "</body>\n</html>\n";

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

response serve_comic(const app::TComic& comic, std::string_view rest, const archive_window& window) {
  if (rest.empty()) return html(calendar_page(comic, window));
  if (const auto d = dated_name(rest, day_prefix, day_suffix); d && window.holds(*d))
    return html(day_page(comic, *d, window));
  if (rest.substr(0, images_segment.size()) != images_segment) return status_page(404);

  const std::string_view name = rest.substr(images_segment.size());
  const std::string image_prefix = std::string(comic.Key) + "-";
  const std::string title = display_title(comic.Title);
  if (const auto d = dated_name(name, image_prefix, strip_suffix); d && window.holds(*d))
    return {200, "image/gif", strip_gif(title, comic.Key, *d)};
  if (const auto d = dated_name(name, image_prefix, extra_suffix);
      d && window.holds(*d) && is_sunday(*d))
    return {200, "image/gif", extra_gif(title, comic.Key, *d)};
  return status_page(404);
}

}  // namespace

bool archive_window::holds(day d) const {
  return d <= today && d > today - std::chrono::days{days} && d >= first_day;
}

std::string display_title(std::string_view title) {
  std::string out;
  for (std::size_t i = 0; i < title.size(); ++i) {
    out += title[i];
    if (title[i] == '&' && i + 1 < title.size() && title[i + 1] == '&') ++i;
  }
  return out;
}

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

std::string calendar_page(const app::TComic& comic, const archive_window& window) {
  const std::string title = display_title(comic.Title);
  std::string page = page_head(title + ": the archive");
  page += "<h1>" + escape_html(title) + "</h1>\n";
  page += "<p>The strips of the last " + std::to_string(window.days) + " days. Choose a day:</p>\n";
  page += "<form action=\"\">\n<select onchange=\"if (this.value) location.href = this.value\">\n";
  page += "<option value=\"\">Choose a day</option>\n";
  for (day d = window.today; window.holds(d); d -= std::chrono::days{1})
    page += "<option value=\"" + day_path(comic, d) + "\">" + calendar_date(d) + "\n";
  page += "</select>\n</form>\n<p><a href=\"/\">All comics</a></p>\n";
  page += page_end;
  return page;
}

std::string day_page(const app::TComic& comic, day d, const archive_window& window) {
  const std::string title = display_title(comic.Title);
  std::string page = page_head(title + " for " + long_date(d));
  page += "<h1><a href=\"" + calendar_path(comic) + "\">" + escape_html(title) + "</a></h1>\n";
  page += "<h2>" + long_date(d) + "</h2>\n<p>\n";
  page += image_line(comic, strip_name(comic, d), strip_width, strip_height,
                     title + ", " + calendar_date(d));
  page += "</p>\n";
  if (is_sunday(d)) {
    page += "<p>And on Sundays one panel more:</p>\n<p>\n";
    page += image_line(comic, extra_name(comic, d), extra_width, extra_height,
                       title + ", Sunday extra");
    page += "</p>\n";
  }
  page += "<p>";
  if (const day before = d - std::chrono::days{1}; window.holds(before))
    page += "<a href=\"" + day_path(comic, before) + "\">Previous day</a> | ";
  page += "<a href=\"" + calendar_path(comic) + "\">Archive</a>";
  if (const day after = d + std::chrono::days{1}; window.holds(after))
    page += " | <a href=\"" + day_path(comic, after) + "\">Next day</a>";
  page += "</p>\n";
  page += page_end;
  return page;
}

std::string index_page(const archive_window& window) {
  std::string page = page_head("Comics");
  page += "<h1>Comics</h1>\n<p>" + std::to_string(app::comic_count) +
          " comics, each with the strips of the last " + std::to_string(window.days) +
          " days.</p>\n<ul>\n";
  for (const app::TComic& comic : app::Comics)
    page += "<li><a href=\"" + calendar_path(comic) + "\">" +
            escape_html(display_title(comic.Title)) + "</a></li>\n";
  page += "</ul>\n";
  page += page_end;
  return page;
}

response serve(std::string_view path, const archive_window& window) {
  if (path == "/") return html(index_page(window));
  for (const app::TComic& comic : app::Comics) {
    const std::string base = calendar_path(comic);
    if (path.substr(0, base.size()) == base) return serve_comic(comic, path.substr(base.size()), window);
  }
  return status_page(404);
}

}  // namespace server
