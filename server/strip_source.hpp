// Where the comics site takes its comics and strips from: the days of each
// comic's strips, and the strip of a day. The site renders its own strips
// for a window of days, or shows a folder of strips that quorvel wrote.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/comics.hpp"
#include "server/archive_day.hpp"

namespace server {

// The days of one comic's strips, oldest first, none twice.
struct comic_days {
  std::vector<day> days;

  bool empty() const { return days.empty(); }
  bool holds(day d) const;
  day first() const { return days.front(); }  // not when empty
  day last() const { return days.back(); }    // not when empty
  // The nearest day before and after `d`, if any.
  std::optional<day> before(day d) const;
  std::optional<day> after(day d) const;
};

class strip_source {
 public:
  virtual ~strip_source() = default;
  // Whether the site shows the comic at all.
  virtual bool shows(const app::TComic& comic) const = 0;
  virtual comic_days days(const app::TComic& comic) const = 0;
  // The strip of a day the comic holds, or on Sundays its extra panel; nothing
  // when there is none.
  virtual std::optional<std::string> strip(const app::TComic& comic, day d, bool extra) const = 0;
  // Whether Sundays have an extra panel.
  virtual bool sunday_extras() const = 0;
  // A sentence about what the site holds, for its home page, and about one
  // comic's days, for its calendar.
  virtual std::string summary() const = 0;
  virtual std::string summary(const comic_days& days) const = 0;
};

// The archived days: `days` of them, ending with `today` (never before year 1).
struct archive_window {
  day today;
  int days;
  bool holds(day d) const;
  // The first archived day; today when nothing is archived.
  day oldest() const;
};

// Every comic of the catalogue with the strips of the window, drawn here.
class rendered_strips final : public strip_source {
 public:
  explicit rendered_strips(archive_window window) : window_(window) {}
  bool shows(const app::TComic&) const override { return true; }
  comic_days days(const app::TComic& comic) const override;
  std::optional<std::string> strip(const app::TComic& comic, day d, bool extra) const override;
  bool sunday_extras() const override { return true; }
  std::string summary() const override;
  std::string summary(const comic_days& days) const override;

 private:
  archive_window window_;
};

// The title as people read it: the catalogue writes "&" as "&&".
std::string display_title(std::string_view title);
// "1 day", "30 days"
std::string days_text(std::size_t count);

}  // namespace server
