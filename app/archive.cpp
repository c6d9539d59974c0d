// The archive scan and strip download.
#include "app/archive.hpp"

#include <algorithm>
#include <set>
#include <vector>

#include "app/comics.hpp"
#include "app/gif_check.hpp"
#include "lib/chars.hpp"
#include "lib/error_codes.hpp"
#include "lib/system.hpp"
#include "lib/tasks.hpp"
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

// Why the last transfer did not end in order, in words, or "" when it did.
std::string transfer_reason(const tcpip::T_HTTP& http) {
  switch (http.Outcome) {
    case tcpip::ho_complete:
      return "";
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
    case tcpip::ho_malformed:
      return http.StatusReceived ? "malformed header line" : "malformed status line";
  }
  return "";
}

// An answer that says the page or image is not there: nothing to give, no
// failure.
bool not_there(const tcpip::T_HTTP& http) {
  return http.StatusCode == 404 || http.StatusCode == 410;
}

// Why a request failed, in words, or "" when it did not: the transfer, or a
// status of 300 or more unless `missing_is_fine` and the answer is 404 or 410.
std::string failure_reason(const tcpip::T_HTTP& http, bool missing_is_fine = true) {
  if (std::string reason = transfer_reason(http); !reason.empty()) return reason;
  if (http.StatusCode < 300 || (missing_is_fine && not_there(http))) return "";
  return "status " + std::to_string(http.StatusCode);
}

// Fetches http.URL. A header that is no number (status code, Content-Length)
// is the server's fault: it ends as that request's outcome, not as the run's
// error. Any other error is not caught.
void fetch(tcpip::T_HTTP& http) {
  try {
    http.Get();
  } catch (const platform::EConvertError&) {
    if (http.Outcome != tcpip::ho_malformed) throw;
  }
}

// The address of a failed request and the reason, as an error context.
std::string failure_context(const tcpip::T_HTTP& http, const std::string& reason) {
  std::string context = "/url=" + http.URL;
  if (!http.Proxy.empty()) context += "/proxy=" + http.Proxy;
  return context + "/reason=" + reason;
}

// Requests in a row that found no server there (no connection, the time
// limit, or a gateway saying the server behind it cannot serve) after which
// the scan stops asking.
constexpr int dead_server_requests = 5;

// A gateway or proxy answering for a server it cannot reach or that cannot
// serve: as good as no server at all.
bool gateway_without_server(const tcpip::T_HTTP& http) {
  return http.StatusReceived &&
         (http.StatusCode == 502 || http.StatusCode == 503 || http.StatusCode == 504);
}

// What the requests after the calendar went through: the failed ones in the
// scan's order with the day each touched, and whether the server seems gone.
struct scan_record {
  struct failure {
    int order;            // the request's place in the scan's own order
    std::string day;      // "yymmdd"
    std::string context;  // failure_context of the request
  };
  std::vector<failure> failures;  // in the scan's order
  int dead_in_a_row = 0;           // counted as the answers arrive

  // Notes the outcome of one request for the day `date_text`, the `order`th
  // request of the scan's own order; true when it failed.
  bool note(const tcpip::T_HTTP& http, const std::string& date_text, const std::string& reason,
            int order) {
    const bool no_server = http.Outcome == tcpip::ho_no_connection ||
                           http.Outcome == tcpip::ho_timed_out || gateway_without_server(http);
    dead_in_a_row = no_server ? dead_in_a_row + 1 : 0;
    if (reason.empty()) return false;
    // Several requests at once may answer in any order; the list keeps the
    // scan's, so that the report does not depend on which came first.
    const auto later = std::find_if(failures.begin(), failures.end(),
                                    [&](const failure& f) { return f.order > order; });
    failures.insert(later, {order, date_text, failure_context(http, reason)});
    return true;
  }
  bool server_gone() const { return dead_in_a_row >= dead_server_requests; }
};

// Another transfer that asks as `http` does: through the same proxy, with
// the same headers.
std::unique_ptr<tcpip::T_HTTP> transfer_like(const tcpip::T_HTTP& http) {
  auto copy = std::make_unique<tcpip::T_HTTP>(nullptr);
  copy->Proxy = http.Proxy;
  copy->NoCache = http.NoCache;
  copy->Accept = http.Accept;
  copy->Sender = http.Sender;
  copy->Agent = http.Agent;
  copy->Reference = http.Reference;
  copy->SendFullURL = http.SendFullURL;
  copy->AdditionalHeader.Assign(http.AdditionalHeader);
  return copy;
}

// Names the strips still waiting in their group when the scan ends, also
// when an error ends it: their bytes are whole, only the name was to come.
// A failure on the way out of another error is not the one to report.
class strips_named_at_the_end {
 public:
  strips_named_at_the_end() = default;
  strips_named_at_the_end(const strips_named_at_the_end&) = delete;
  strips_named_at_the_end& operator=(const strips_named_at_the_end&) = delete;
  ~strips_named_at_the_end() {
    try {
      platform::name_written_files();
    } catch (...) {
    }
  }
};

TDateObj* date_of(const platform::TStringList& list, int index) {
  return dynamic_cast<TDateObj*>(list.Objects(index));
}

// The four-digit year that follows the day in a date text ("Dec. 08, 2026":
// blanks and an optional comma before it), or 0 when there is none.
int year_after_day(std::string_view rest) {
  std::size_t i = rest.find_first_not_of(' ');
  if (i != std::string_view::npos && rest[i] == ',') i = rest.find_first_not_of(' ', i + 1);
  if (i == std::string_view::npos || rest.size() - i < 4) return 0;
  const std::string_view digits = rest.substr(i, 4);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  if (rest.size() > i + 4 && rest[i + 4] >= '0' && rest[i + 4] <= '9') return 0;
  return platform::str_to_int(digits);
}

// The date of a calendar entry: in the year its text names; without one,
// this year, or last year when that date is still ahead of the local clock.
// A date that year cannot hold (29 February) is tried in the year before.
platform::TDateTime entry_date(std::string_view date_text) {
  const int entry_month = tcpip::MonthFromName(std::string(date_text.substr(0, 3)));
  const std::size_t day_start = std::min<std::size_t>(5, date_text.size());
  const int entry_day = platform::str_to_int(date_text.substr(day_start, 2));
  if (const int year = year_after_day(date_text.substr(std::min<std::size_t>(7, date_text.size())));
      year != 0)
    return platform::EncodeDate(year, entry_month, entry_day);

  const platform::TDateTime now = platform::Now();
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(now, year, month, day);
  const auto impossible = [&] {
    return entry_month == 2 && entry_day == 29 && !platform::IsLeapYear(year);
  };
  if (impossible()) --year;
  if (now < platform::EncodeDate(year, entry_month, entry_day)) --year;
  if (impossible()) --year;
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

void FetchArchive(std::uint8_t ComicIndex, const std::string& TargetDir, tcpip::T_HTTP& http,
                  int connections) {
  const TComic& comic = Comics[ComicIndex];
  platform::TStringList days(true);    // owns the date objects
  platform::TStringList images(true);

  const bool no_cache = http.NoCache;
  http.NoCache = true;  // the calendar must be fresh whatever the user chose
  http.URL = std::string(comic.BaseURL) + comic_path(comic) + "/archive/";
  fetch(http);
  // Without its calendar the run cannot do its job: say so, ask nothing more.
  if (const std::string reason = failure_reason(http, false); !reason.empty())
    throw qlib::make_error(qlib::err_calendar_failed, failure_context(http, reason));
  ReadCalendar(ComicIndex, http.Stream, days);
  for (int i = days.Count() - 1; i >= 0; --i) {
    const TDateObj* date = date_of(days, i);
    if (!date || StripExists(date->GetDateString(), TargetDir, ComicIndex)) days.Delete(i);
  }
  http.NoCache = no_cache;

  // Up to `connections` requests at once, each transfer with its own
  // client; the first is `http` itself. The scan's decisions below are made
  // between the waits of the transfers, so none sees another's half done.
  std::vector<std::unique_ptr<tcpip::T_HTTP>> more;
  std::vector<tcpip::T_HTTP*> transfers{&http};
  for (int k = 1; k < connections; ++k) {
    more.push_back(transfer_like(http));
    transfers.push_back(more.back().get());
  }
  // Later failures do not stop the run: the other days are still fetched,
  // and the run ends with an error that counts them.
  scan_record record;
  strips_named_at_the_end named;
  qlib::task_pool pool(connections);

  // Each day's images in a list of its own, joined in the days' order, so
  // that the image pass goes in the same order whichever page came first.
  const int day_count = days.Count();
  std::vector<std::unique_ptr<platform::TStringList>> day_images;
  for (int i = day_count - 1; i >= 0; --i) {
    // Asked again once there is room: an answer meanwhile may have been the
    // fifth in a row.
    pool.run_until([&] { return pool.has_room() || record.server_gone(); });
    if (record.server_gone()) break;
    const int order = static_cast<int>(day_images.size());
    day_images.push_back(std::make_unique<platform::TStringList>(true));
    pool.start([&, i, order](int slot) {
      tcpip::T_HTTP& page = *transfers[static_cast<std::size_t>(slot)];
      page.URL = std::string(comic.BaseURL) + days[i];
      report_progress(page.URL);
      fetch(page);
      if (pool.stopping()) return;
      // Only a page of an answer that succeeded is read: a broken page
      // leaves the day missing, and a page that is not there (404, 410) has
      // nothing to give, whatever images its body names.
      if (record.note(page, date_of(days, i)->GetDateString(), failure_reason(page), order)) return;
      if (not_there(page)) return;
      ReadDayPage(ComicIndex, page.Stream, *date_of(days, i), *day_images[static_cast<std::size_t>(order)]);
    });
  }
  pool.finish();
  for (const auto& list : day_images)
    for (int j = 0; j < list->Count(); ++j)
      images.AddObject((*list)[j], TDateObj::CreateCopy(*date_of(*list, j)).release());

  std::set<std::string> ended_days;  // a failure ended them: no further image
  std::set<std::string> in_flight;   // dates whose images a transfer is trying
  int i = images.Count() - 1;
  while (i >= 0) {
    const TDateObj* date = date_of(images, i);
    if (!date) {
      --i;
      continue;
    }
    // The date's images that follow one another in the list are tried in
    // order by one transfer, so that two of them are never in flight at once.
    const std::string date_text = date->GetDateString();
    int after = i - 1;
    while (after >= 0 && date_of(images, after) && date_of(images, after)->GetDateString() == date_text)
      --after;
    pool.run_until([&] {
      return (pool.has_room() && in_flight.count(date_text) == 0) || record.server_gone();
    });
    if (record.server_gone()) break;
    in_flight.insert(date_text);
    pool.start([&, date_text, from = i, after](int slot) {
      tcpip::T_HTTP& image = *transfers[static_cast<std::size_t>(slot)];
      for (int k = from; k > after && !record.server_gone(); --k) {
        // Checked again before every request: a strip saved earlier in this
        // run stops the other candidates of its date.
        if (ended_days.count(date_text) || StripExists(date_text, TargetDir, ComicIndex)) continue;
        image.URL = std::string(comic.BaseURL) + comic_path(comic) + "/archive/images/" + images[k];
        report_progress(image.URL);
        fetch(image);
        if (pool.stopping()) return;
        // Only a whole GIF of a response that succeeded and ended in order
        // is kept. An empty or missing image lets the day's next one serve;
        // any other failure ends the day, so that an extra panel never takes
        // the place of its strip.
        std::string reason = failure_reason(image);
        const bool nothing = reason.empty() && (not_there(image) || image.Stream.Size() == 0);
        if (!nothing && reason.empty() && !IsWholeGif(image.Stream.View())) reason = "no whole GIF";
        if (record.note(image, date_text, reason, day_count + (images.Count() - 1 - k))) {
          ended_days.insert(date_text);
          break;
        }
        if (nothing) continue;
        // Synced with its group before its name appears; until then the
        // strip counts as there.
        platform::write_file_in_group(TargetDir + std::string(comic.Prefix) + date_text + ".gif",
                                      image.Stream.View());
      }
      in_flight.erase(date_text);
    });
    i = after;
  }
  pool.finish();
  platform::name_written_files();

  // A day is complete once its strip is there, whatever failed on the way;
  // the report names the first failure of a day still missing.
  const auto missing = std::find_if(
      record.failures.begin(), record.failures.end(),
      [&](const scan_record::failure& f) { return !StripExists(f.day, TargetDir, ComicIndex); });
  if (missing != record.failures.end())
    throw qlib::make_error(
        qlib::err_days_missing, "/failed=" + std::to_string(record.failures.size()) + missing->context);
}

}  // namespace app
