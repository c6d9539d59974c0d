// A folder of strips that quorvel wrote, as the site's source: the comics
// whose prefixes the strip names carry, their days on disk, and the strips
// read from their files. The folder is only ever read.
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <string>

#include "server/strip_source.hpp"

namespace server {

class archive_folder final : public strip_source {
 public:
  // Reads the folder's names now. Two-digit years are read in the century
  // that puts them no later than the year of `today`.
  archive_folder(const std::filesystem::path& folder, day today);

  bool shows(const app::TComic& comic) const override;
  comic_days days(const app::TComic& comic) const override;
  std::optional<std::string> strip(const app::TComic& comic, day d, bool extra) const override;
  bool sunday_extras() const override { return false; }
  std::string summary() const override;
  std::string summary(const comic_days& days) const override;

 private:
  // The catalogue row that a prefix's strips are shown under: the first
  // with that prefix ("dk" is Dusty Kid's and Marvels').
  static const app::TComic* owner(const app::TComic& comic);

  std::filesystem::path folder_;  // canonical
  std::string shown_name_;
  // By prefix, then day: the file's name as it is on disk.
  std::map<std::string, std::map<day, std::string>> strips_;
};

// Whether `path` names a folder that can be read.
bool is_folder(const std::string& path);

// Strips larger than this are not shown: quorvel keeps none larger.
inline constexpr std::uintmax_t max_strip_bytes = std::uintmax_t{64} << 20;

}  // namespace server
