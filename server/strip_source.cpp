// The days of a comic's strips, and the strips the site draws itself.
#include "server/strip_source.hpp"

#include <algorithm>

#include "server/strip_gif.hpp"

namespace server {
namespace {

const day first_day = std::chrono::sys_days{std::chrono::year{1} / 1 / 1};

}  // namespace

bool comic_days::holds(day d) const { return std::binary_search(days.begin(), days.end(), d); }

std::optional<day> comic_days::before(day d) const {
  const auto at = std::lower_bound(days.begin(), days.end(), d);
  if (at == days.begin()) return std::nullopt;
  return *(at - 1);
}

std::optional<day> comic_days::after(day d) const {
  const auto at = std::upper_bound(days.begin(), days.end(), d);
  if (at == days.end()) return std::nullopt;
  return *at;
}

bool archive_window::holds(day d) const {
  return d <= today && d > today - std::chrono::days{days} && d >= first_day;
}

day archive_window::oldest() const {
  if (days <= 0) return today;
  const day start = today - std::chrono::days{days - 1};
  return start < first_day ? first_day : start;
}

comic_days rendered_strips::days(const app::TComic&) const {
  comic_days held;
  if (window_.days <= 0) return held;
  for (day d = window_.oldest(); d <= window_.today; d += std::chrono::days{1}) held.days.push_back(d);
  return held;
}

std::optional<std::string> rendered_strips::strip(const app::TComic& comic, day d, bool extra) const {
  if (!window_.holds(d)) return std::nullopt;
  const std::string title = display_title(comic.Title);
  if (!extra) return strip_gif(title, comic.Key, d);
  if (!is_sunday(d)) return std::nullopt;
  return extra_gif(title, comic.Key, d);
}

std::string rendered_strips::summary() const {
  return std::to_string(app::comic_count) + " comics, each with the strips of the last " +
         days_text(static_cast<std::size_t>(std::max(window_.days, 0))) + ".";
}

std::string rendered_strips::summary(const comic_days&) const {
  return "The strips of the last " + days_text(static_cast<std::size_t>(std::max(window_.days, 0))) + ".";
}

std::string display_title(std::string_view title) {
  std::string out;
  for (std::size_t i = 0; i < title.size(); ++i) {
    out += title[i];
    if (title[i] == '&' && i + 1 < title.size() && title[i + 1] == '&') ++i;
  }
  return out;
}

std::string days_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " day" : " days");
}

}  // namespace server
