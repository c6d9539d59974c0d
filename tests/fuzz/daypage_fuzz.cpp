// Fuzz target: a day page read by ReadDayPage. A first byte "o" picks
// owlfred (under "partner"), any other quorvel; the rest is the page.
#include "app/archive.hpp"
#include "tests/fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  platform::TMemoryStream body;
  body.Write(data + 1, size - 1);
  body.SetPosition(0);
  app::TDateObj day;
  day.FDate = platform::EncodeDate(2026, 12, 6);
  platform::TStringList images(true);
  app::ReadDayPage(data[0] == 'o' ? 29 : 7, body, day, images);
  for (int i = 0; i < images.Count(); ++i) {
    const auto* date = dynamic_cast<const app::TDateObj*>(images.Objects(i));
    fuzz::require(!images[i].empty() && date && date->FDate == day.FDate);
  }
  return 0;
}
