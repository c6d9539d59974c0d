// Temporary directories and whole-file helpers of the end-to-end suites, on
// every system; each system starts programs and makes directories its own way.
#include "tests/support/run.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string library_path(std::string host) {
  for (char& c : host) c = c == '/' ? '\\' : (c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c);
  return host;
}

}  // namespace testing_support
