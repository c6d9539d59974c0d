// The archive scan and strip download.
#include "app/archive.hpp"

#include "app/comics.hpp"
#include "app/gif_check.hpp"
#include "lib/chars.hpp"
#include "lib/system.hpp"
#include "lib/types.hpp"
#include "platform/files.hpp"
#include "platform/runtime.hpp"
#include "tcpip/url.hpp"

namespace app {
namespace {

std::string comic_path(const TComic& comic) {
  return "/" + std::string(comic.Section) + "/" + std::string(comic.Key);
}

void report_progress(const std::string& url) {
  if (ProgressProc) ProgressProc(qlib::short_str("Getting " + url));
}

// Why the last request failed, in words, or "" when it did not: a transfer
// that did not end in order, or a status from `failing_status` up.
std::string failure_reason(const tcpip::T_HTTP& http, int failing_status) {
  switch (http.Outcome) {
    case tcpip::ho_complete:
      break;
    case tcpip::ho_no_connection:
      return "no connection";
    case tcpip::ho_failed:
      return "transfer failed";
    case tcpip::ho_timed_out:
      return "timed out";
    case tcpip::ho_too_large:
      return "body too large";
    case tcpip::ho_header_too_long:
      return "header too long";
    case tcpip::ho_no_status:
      return "no status line";
    case tcpip::ho_cut_short:
      return "transfer cut short";
  }
  if (http.StatusCode >= failing_status) return "status " + std::to_string(http.StatusCode);
  return "";
}

// The address of a failed request and the reason, as an error context.
std::string failure_context(const tcpip::T_HTTP& http, const std::string& reason) {
  std::string context = "/url=" + http.URL;
  if (!http.Proxy.empty()) context += "/proxy=" + http.Proxy;
  return context + "/reason=" + reason;
}

// The requests of a run that failed without stopping it: their number and
// the first one.
struct failed_requests {
  int count = 0;
  std::string first;  // failure_context of the first

  void add(const tcpip::T_HTTP& http, const std::string& reason) {
    if (count++ == 0) first = failure_context(http, reason);
  }
};

TDateObj* date_of(const platform::TStringList& list, int index) {
  return dynamic_cast<TDateObj*>(list.Objects(index));
}

// The calendar date of a day whose month and day the page gives: this year,
// or last year when that date is still ahead of the local clock.
platform::TDateTime entry_date(std::string_view date_text) {
  const platform::TDateTime now = platform::Now();
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(now, year, month, day);
  const int entry_month = tcpip::MonthFromName(std::string(date_text.substr(0, 3)));
  const std::size_t day_start = std::min<std::size_t>(5, date_text.size());
  const int entry_day = platform::str_to_int(date_text.substr(day_start, 2));
  if (now < platform::EncodeDate(year, entry_month, entry_day)) --year;
  return platform::EncodeDate(year, entry_month, entry_day);
}

}  // namespace

TProgressProc ProgressProc = nullptr;

std::unique_ptr<TDateObj> TDateObj::CreateCopy(const TDateObj& source) {
  auto copy = std::make_unique<TDateObj>();
  copy->FDate = source.FDate;
  return copy;
}

std::string TDateObj::GetDateString() const { return platform::FormatYYMMDD(FDate); }

std::string ParseCalendarLine(std::string_view line, std::uint8_t ComicIndex,
                              platform::TDateTime& date) {
  const TComic& comic = Comics[ComicIndex];
  const std::string pattern = "<option value=\"" + comic_path(comic) + "/archive/cal-";
  const auto entry = qlib::lower_ascii(line).find(pattern);
  if (entry == std::string::npos) return {};

  // The path as read, from "/" + Section up to the closing quote. When the
  // section is spelt in another case, the entry's own value is taken.
  auto start = line.find("/" + std::string(comic.Section));
  if (start == std::string_view::npos) start = entry + std::string_view("<option value=\"").size();
  std::string path;
  const auto quote = line.find('"', start);
  if (quote != std::string_view::npos) path = std::string(line.substr(start, quote - start));

  const std::string text(line);
  const auto last_gt = static_cast<std::size_t>(tcpip::PosN(">", text, -1));
  const std::string date_text = qlib::trim_controls(last_gt == 0 ? text : text.substr(last_gt));
  try {
    date = entry_date(date_text);
  } catch (...) {
    date = 0;  // month, day or date that cannot be read: no entry
  }
  return path;
}

std::string ParseImageLine(std::string_view line, std::uint8_t ComicIndex) {
  const std::string pattern = comic_path(Comics[ComicIndex]) + "/archive/images/";
  const auto found = qlib::lower_ascii(line).find(pattern);
  if (found == std::string::npos) return {};
  const std::string_view rest = line.substr(found + pattern.size());
  const auto gif = rest.find("gif");
  if (gif == std::string_view::npos) return {};  // names no image
  return std::string(rest.substr(0, gif + 3));
}

void ReadCalendar(std::uint8_t ComicIndex, platform::TMemoryStream& body,
                  platform::TStringList& days) {
  body.Seek(0, platform::soBeginning);
  platform::TStringList lines;
  lines.LoadFromStream(body);
  auto spare = std::make_unique<TDateObj>();
  for (int i = lines.Count() - 1; i >= 0; --i) {
    const std::string path = ParseCalendarLine(lines[i], ComicIndex, spare->FDate);
    if (path.empty() || spare->FDate == 0) continue;
    days.AddObject(path, spare.release());
    spare = std::make_unique<TDateObj>();
  }
}

void ReadDayPage(std::uint8_t ComicIndex, platform::TMemoryStream& body, const TDateObj& day,
                 platform::TStringList& images) {
  platform::TStringList lines;
  lines.LoadFromStream(body);
  for (int i = lines.Count() - 1; i >= 0; --i) {
    const std::string name = ParseImageLine(lines[i], ComicIndex);
    if (!name.empty()) images.AddObject(name, TDateObj::CreateCopy(day).release());
  }
}

bool StripExists(const std::string& DateText, const std::string& TargetDir,
                 std::uint8_t ComicIndex) {
  try {
    return platform::file_exists(TargetDir + std::string(Comics[ComicIndex].Prefix) + DateText +
                                 ".gif");
  } catch (...) {
    return false;
  }
}

void FetchArchive(std::uint8_t ComicIndex, const std::string& TargetDir, tcpip::T_HTTP& http) {
  const TComic& comic = Comics[ComicIndex];
  platform::TStringList days(true);    // owns the date objects
  platform::TStringList images(true);

  const bool no_cache = http.NoCache;
  http.NoCache = true;  // the calendar must be fresh whatever the user chose
  http.URL = std::string(comic.BaseURL) + comic_path(comic) + "/archive/";
  http.Get();
  // Without its calendar the run cannot do its job: say so, ask nothing more.
  if (const std::string reason = failure_reason(http, 300); !reason.empty())
    throw qlib::make_error(2030, failure_context(http, reason));
  ReadCalendar(ComicIndex, http.Stream, days);
  for (int i = days.Count() - 1; i >= 0; --i) {
    const TDateObj* date = date_of(days, i);
    if (!date || StripExists(date->GetDateString(), TargetDir, ComicIndex)) days.Delete(i);
  }
  http.NoCache = no_cache;

  // Later failures do not stop the run: the other days are still fetched,
  // and the run ends with an error that counts them.
  failed_requests failed;
  for (int i = days.Count() - 1; i >= 0; --i) {
    http.URL = std::string(comic.BaseURL) + days[i];
    report_progress(http.URL);
    http.Get();
    if (const std::string reason = failure_reason(http, 500); !reason.empty()) {
      failed.add(http, reason);
      continue;  // a broken page is not read; the day stays missing
    }
    ReadDayPage(ComicIndex, http.Stream, *date_of(days, i), images);
  }

  for (int i = images.Count() - 1; i >= 0; --i) {
    const TDateObj* date = date_of(images, i);
    if (!date) {
      images.Delete(i);
      continue;
    }
    const std::string date_text = date->GetDateString();
    // Checked again before every request: a strip saved earlier in this run
    // stops the other candidates of its date.
    if (StripExists(date_text, TargetDir, ComicIndex)) {
      images.Delete(i);
      continue;
    }
    http.URL = std::string(comic.BaseURL) + comic_path(comic) + "/archive/images/" + images[i];
    report_progress(http.URL);
    http.Get();
    // Only a whole GIF of a response that succeeded and ended in order is
    // kept; otherwise the day's next image may serve. An image that is not
    // there (a status below 500) is no failure.
    if (const std::string reason = failure_reason(http, 500); !reason.empty()) {
      failed.add(http, reason);
      continue;
    }
    if (http.StatusCode >= 300) continue;
    if (!IsWholeGif(http.Stream.View())) {
      failed.add(http, "no whole GIF");
      continue;
    }
    platform::write_file_atomically(
        TargetDir + std::string(comic.Prefix) + date_text + ".gif", http.Stream.View());
  }

  if (failed.count > 0)
    throw qlib::make_error(2031, "/failed=" + std::to_string(failed.count) + failed.first);
}

}  // namespace app
