// Process runner and temporary directories for the end-to-end suites on
// Windows: CreateProcessA with the standard handles on pipes.
#include "tests/support/run.hpp"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>

#include <windows.h>

namespace testing_support {
namespace {

// The suites name programs by the build's paths, which under Wine are the
// host's: Wine turns such a path into the drive path it stands for.
std::string system_path(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  using dos_name_fn = wchar_t* (*)(const char*);
  const auto to_dos = reinterpret_cast<dos_name_fn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
  if (!to_dos) return path;
  wchar_t* wide = to_dos(path.c_str());
  if (!wide) return path;
  std::string narrow;
  for (const wchar_t* c = wide; *c; ++c) narrow += static_cast<char>(*c);
  HeapFree(GetProcessHeap(), 0, wide);
  return narrow;
}

// One argument as the C runtime's parser reads it back: quoted when it holds
// blanks or quotes, with the backslashes before a quote doubled.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The environment block of the child: this process's variables with the
// options' changes (names ignore case, as the system's do).
std::string environment_block(const run_options& options) {
  std::vector<std::string> entries;
  char* block = GetEnvironmentStringsA();
  for (const char* entry = block; entry && *entry; entry += std::strlen(entry) + 1)
    entries.emplace_back(entry);
  if (block) FreeEnvironmentStringsA(block);
  auto drop = [&](const std::string& name) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& entry) {
                                   const auto equals = entry.find('=', 1);
                                   return equals != std::string::npos &&
                                          same_name(entry.substr(0, equals), name);
                                 }),
                  entries.end());
  };
  for (const auto& name : options.unset_env) drop(name);
  for (const auto& [name, value] : options.set_env) {
    drop(name);
    entries.push_back(name + "=" + value);
  }
  std::string result;
  for (const auto& entry : entries) result += entry + '\0';
  return result + '\0';
}

// Reads what the pipe holds now, without waiting for more.
void read_available(HANDLE pipe, std::string& sink) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char buffer[65536];
    DWORD count = 0;
    const DWORD wanted = std::min<DWORD>(available, sizeof buffer);
    if (!ReadFile(pipe, buffer, wanted, &count, nullptr) || count == 0) return;
    sink.append(buffer, count);
  }
}

}  // namespace

run_result run(const std::string& program, const std::vector<std::string>& args,
               const run_options& options) {
  if (options.file_size_limit >= 0)
    throw std::runtime_error("run: Windows has no limit on the size of a process's files");
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!CreatePipe(&out_read, &out_write, &inheritable, 0) ||
      !CreatePipe(&err_read, &err_write, &inheritable, 0))
    throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);

  const std::string path = system_path(program);
  std::string line = quoted(path);
  for (const auto& arg : args) line += ' ' + quoted(arg);
  std::string environment = environment_block(options);
  const std::string cwd = system_path(options.cwd);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  const bool started =
      CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                     cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  run_result result;
  if (!started) {
    CloseHandle(out_read);
    CloseHandle(err_read);
    result.exit_code = 127;
    return result;
  }
  CloseHandle(process.hThread);
  // The output is read while the program runs and once more when it has
  // ended, never to the end of the pipes: a process that the program starts
  // holds them open for longer (Wine starts its desktop process so, with the
  // program's standard handles), and their end would never come.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  bool ended = false;
  for (;;) {
    ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
    read_available(out_read, result.out);
    read_available(err_read, result.err);
    if (ended) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      break;
    }
  }
  CloseHandle(out_read);
  CloseHandle(err_read);
  DWORD code = 0;
  if (ended && GetExitCodeProcess(process.hProcess, &code)) result.exit_code = static_cast<int>(code);
  CloseHandle(process.hProcess);
  return result;
}

temp_dir::temp_dir() {
  char base[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPath failed");
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = std::string(base) + "quorvel-test-" + std::to_string(random());
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

}  // namespace testing_support
