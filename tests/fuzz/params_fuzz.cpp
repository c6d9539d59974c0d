// Fuzz target: a parameter line read by for_each_param at levels 0 to 2, with
// its comments, "if" conditions and "@" includes, every value read as text,
// number and yes/no. The input is the line, then after form feeds the
// contents of a.txt and b.txt, which includes may name.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "lib/chars.hpp"
#include "lib/params.hpp"
#include "platform/runtime.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/support/text_file_type.hpp"

namespace {

// The scratch folder of a.txt and b.txt, removed at the end of the process.
struct scratch_folder {
  std::string path;
  scratch_folder() {
    char name[] = "/tmp/params_fuzz.XXXXXX";
    if (!mkdtemp(name)) std::abort();
    path = name;
  }
  ~scratch_folder() { std::filesystem::remove_all(path); }
};
const scratch_folder scratch;

// Includes reach only the scratch folder's two files, named plainly: a
// path, drive, "\" or device that a name or its expansion holds is refused,
// and the file is opened at its place in the scratch folder.
class scratch_file : public testing_support::text_file {
 public:
  void activate() override {
    file_name = scratch.path + "/" + file_name;
    text_file::activate();
  }
};
class scratch_files : public qlib::t_file_class {
 public:
  bool accepts(std::string_view name, std::uint8_t) const override {
    return name == "a.txt" || name == "b.txt";
  }
  qlib::owned<qlib::t_file> create() const override { return qlib::create_object<scratch_file>(); }
};

// Reads a value one way; its documented errors end only that reading.
template <class Read>
void read_value(Read read) {
  try {
    read();
  } catch (const qlib::te_&) {
  } catch (const platform::EDivByZero&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const scratch_files files;
  static const bool registered = (qlib::add_file_type(files, 10), true);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view line = rest.substr(0, rest.find('\f'));
  for (const char* name : {"a.txt", "b.txt"}) {
    rest = rest.find('\f') == rest.npos ? std::string_view() : rest.substr(rest.find('\f') + 1);
    std::ofstream(scratch.path + "/" + name, std::ios::binary) << rest.substr(0, rest.find('\f'));
  }
  for (std::uint8_t level = 0; level <= 2 && registered; ++level) {
    read_value([&] {
      qlib::for_each_param(level, line, 32, [&](qlib::t_par_base& current, const std::string& name) {
        fuzz::require(name.size() <= 32 && name == qlib::lower_ascii(name));
        read_value([&] { fuzz::require(current.get_kind() >= level); });
        read_value([&] { current.get_value(); });
        read_value([&] { current.get_int(); });
        read_value([&] { current.get_yes_no(); });
      });
    });
  }
  return 0;
}
