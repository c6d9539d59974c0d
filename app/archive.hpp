// The archive scan: reads a comic's calendar page, works out the archived days
// and their dates, and downloads every strip that is not yet on disk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/classes.hpp"
#include "platform/dates.hpp"
#include "tcpip/http.hpp"

namespace app {

// One date, attached to an item of the day list or the image list.
class TDateObj : public platform::TObject {
 public:
  TDateObj() = default;
  // A new object with the date of `source`.
  static std::unique_ptr<TDateObj> CreateCopy(const TDateObj& source);
  // The date as "yymmdd".
  std::string GetDateString() const;

  platform::TDateTime FDate = 0;  // 0: no date set
};

// The progress hook: called with "Getting " and the address before every day
// page and image request, when set.
using TProgressProc = void (*)(const std::string& line);
extern TProgressProc ProgressProc;

// Fetches the calendar page of comic `ComicIndex` with `http`, then every day
// page and image whose strip file is not yet in `TargetDir` (a prefix that
// file names are appended to), and writes each strip as TargetDir + Prefix +
// "yymmdd" + ".gif" when its response succeeded, ended in order and holds a
// whole GIF file. A calendar page that cannot be fetched raises te_ 2030
// ("/url=.../reason=...") before anything else is asked. A day page is read
// only when its answer succeeded; one answered 404 or 410 has no strip to
// give. An empty, 404 or 410 image lets the day's next image serve; any other
// failed request (a transfer not ended in order, a header that is no number,
// a status of 300 or more, an image that is no whole GIF) ends its day
// without stopping the run. After 5 requests in a row that found no server
// (no connection, the time limit, or 502, 503 or 504 from a gateway) the scan
// stops asking. The run ends with te_ 2031 ("/failed=N" and the address and
// reason of the first failure of a day still missing, in the scan's order)
// when a failure left some day without its strip. Other errors are not
// caught. With `connections` above 1 each pass keeps up to that many
// requests in flight, the first through `http`, the others through clients
// that ask alike; an error that ends the run closes them all.
void FetchArchive(std::uint8_t ComicIndex, const std::string& TargetDir, tcpip::T_HTTP& http,
                  int connections = 1);

// Appends (day path, date) items to `days` for the calendar entries of the
// stream's body, the last line first.
void ReadCalendar(std::uint8_t ComicIndex, platform::TMemoryStream& body,
                  platform::TStringList& days);

// A calendar line: the day path ("" when the line is no entry of this comic)
// and, for an entry, its date written into `date` (0 when it cannot be read).
// A line that is no entry leaves `date` alone.
std::string ParseCalendarLine(std::string_view line, std::uint8_t ComicIndex,
                              platform::TDateTime& date);

// Appends (image name, copy of the day's date) items to `images` for the image
// references of the day page in `body`, read from its position, last line first.
void ReadDayPage(std::uint8_t ComicIndex, platform::TMemoryStream& body, const TDateObj& day,
                 platform::TStringList& images);

// The image file name a day-page line names, or "".
std::string ParseImageLine(std::string_view line, std::uint8_t ComicIndex);

// Whether the strip file for the date text ("yymmdd") exists; any error
// counts as no.
bool StripExists(const std::string& DateText, const std::string& TargetDir,
                 std::uint8_t ComicIndex);

}  // namespace app
