// Fuzz target: a comic's calendar page read by ReadCalendar, today being
// 7 Dec 2026 as in the seeds. A first byte "o" picks owlfred (under
// "partner"), any other quorvel; the rest is the page.
#include "app/archive.hpp"
#include "platform/test_hooks.hpp"
#include "tests/fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A date without its year is placed by today's date.
  static const bool clock_fixed =
      (platform::test_hooks::SetClock([] { return platform::EncodeDate(2026, 12, 7) + 10.0 / 24; }), true);
  if (size == 0 || !clock_fixed) return 0;
  platform::TMemoryStream body;
  body.Write(data + 1, size - 1);
  platform::TStringList days(true);
  app::ReadCalendar(data[0] == 'o' ? 29 : 7, body, days);
  for (int i = 0; i < days.Count(); ++i) {
    const auto* day = dynamic_cast<const app::TDateObj*>(days.Objects(i));
    fuzz::require(!days[i].empty() && day && day->GetDateString().size() == 6);
  }
  return 0;
}
