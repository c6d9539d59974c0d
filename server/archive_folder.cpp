// Reading a folder of strips: names of the form PREFIX + "yymmdd" + ".gif",
// in any letter case, regular files inside the folder.
#include "server/archive_folder.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

namespace server {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t prefix_size = 2;
constexpr std::string_view strip_ending = ".gif";

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The day of a strip name "xxYYMMDD.gif"; the year's century is the one that
// puts it no later than `this_year`.
std::optional<day> strip_day(const std::string& name, int this_year) {
  if (name.size() != prefix_size + 6 + strip_ending.size() ||
      name.substr(prefix_size + 6) != strip_ending)
    return std::nullopt;
  const std::string digits = name.substr(prefix_size, 6);
  for (char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  const int yy = std::stoi(digits.substr(0, 2));
  int century = this_year - this_year % 100;
  if (century + yy > this_year) century -= 100;
  return parse_compact_date(std::to_string(century + yy) + digits.substr(2));
}

// Whether `path` resolves to a regular file inside `folder`: a link that
// leads out of the folder is not followed.
bool inside(const fs::path& folder, const fs::path& path) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  if (error || !fs::is_regular_file(real, error) || error) return false;
  if (real.parent_path() != folder) return false;
  return fs::file_size(real, error) <= max_strip_bytes && !error;
}

}  // namespace

archive_folder::archive_folder(const fs::path& folder, day today)
    : folder_(fs::weakly_canonical(folder)), shown_name_(folder.string()) {
  const int this_year = static_cast<int>(std::chrono::year_month_day{today}.year());
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::string key = lower(name);
    const auto d = strip_day(key, this_year);
    if (!d || !inside(folder_, it->path())) continue;
    strips_[key.substr(0, prefix_size)].emplace(*d, name);
  }
}

bool is_folder(const std::string& path) {
  std::error_code error;
  fs::directory_iterator it(path, error);
  return !error;
}

const app::TComic* archive_folder::owner(const app::TComic& comic) {
  for (const app::TComic& row : app::Comics)
    if (row.Prefix == comic.Prefix) return &row;
  return &comic;
}

bool archive_folder::shows(const app::TComic& comic) const {
  return owner(comic) == &comic && strips_.count(lower(std::string(comic.Prefix))) > 0;
}

comic_days archive_folder::days(const app::TComic& comic) const {
  comic_days held;
  if (!shows(comic)) return held;
  for (const auto& [d, name] : strips_.at(lower(std::string(comic.Prefix)))) held.days.push_back(d);
  return held;
}

std::optional<std::string> archive_folder::strip(const app::TComic& comic, day d, bool extra) const {
  if (extra || !shows(comic)) return std::nullopt;
  const auto& names = strips_.at(lower(std::string(comic.Prefix)));
  const auto found = names.find(d);
  if (found == names.end()) return std::nullopt;
  const fs::path path = folder_ / found->second;
  // Checked again: the file may have changed since the folder was read.
  if (!inside(folder_, path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::string archive_folder::summary() const {
  std::size_t comics = 0;
  for (const app::TComic& comic : app::Comics) comics += shows(comic) ? 1 : 0;
  return "The strips in " + shown_name_ + ": " + std::to_string(comics) +
         (comics == 1 ? " comic." : " comics.");
}

std::string archive_folder::summary(const comic_days& days) const {
  const std::size_t count = days.days.size();
  return std::to_string(count) + (count == 1 ? " strip" : " strips") + " in " + shown_name_ + ".";
}

}  // namespace server
