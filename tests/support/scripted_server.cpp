// The scripted test server: one acceptor thread and one thread per
// connection, on the socket calls of the system it runs on.
#include "tests/support/scripted_server.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "tests/support/socket_calls.hpp"
#include "tests/support/stepped_time.hpp"

namespace testing_support {

namespace calls = socket_calls;

scripted_answer scripted_answer::bytes(std::string data, ending end) {
  scripted_answer answer;
  if (!data.empty()) answer.writes.push_back(std::move(data));
  answer.end = end;
  return answer;
}

scripted_answer scripted_answer::http(std::string_view status_line,
                                      std::initializer_list<std::string_view> headers,
                                      std::string_view body) {
  std::string data(status_line);
  data += "\r\n";
  for (std::string_view header : headers) {
    data += header;
    data += "\r\n";
  }
  data += "\r\n";
  data += body;
  return bytes(std::move(data));
}

scripted_answer& scripted_answer::unprompted() {
  read_request = false;
  return *this;
}

scripted_answer& scripted_answer::in_pieces(std::size_t size) {
  std::string all;
  for (const std::string& write : writes) all += write;
  writes.clear();
  for (std::size_t at = 0; at < all.size(); at += size) writes.push_back(all.substr(at, size));
  return *this;
}

scripted_answer& scripted_answer::cut_after(std::size_t count) {
  std::vector<std::string> kept;
  for (const std::string& write : writes) {
    if (count == 0) break;
    kept.push_back(write.substr(0, count));
    count -= kept.back().size();
  }
  writes = std::move(kept);
  return *this;
}

scripted_answer& scripted_answer::then(ending how) {
  end = how;
  return *this;
}

scripted_answer& scripted_answer::paced(std::chrono::milliseconds pause) {
  gap = pause;
  return *this;
}

struct scripted_server::connection {
  int fd = -1;  // -1 once closed; guarded by the server's mutex
  std::string received;
  bool ended = false;
  bool has_answer = false;
  scripted_answer answer;
};

namespace {

std::string target_of(const std::string& request) {
  const std::size_t line_end = request.find_first_of("\r\n");
  const std::string line = request.substr(0, line_end);
  const std::size_t first = line.find(' ');
  if (first == std::string::npos) return "";
  const std::size_t second = line.find(' ', first + 1);
  return line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

// The path of an absolute URL ("/" when it has none), or the target itself.
std::string path_of(const std::string& target) {
  const std::size_t scheme = target.find("://");
  if (scheme == std::string::npos) return target;
  const std::size_t slash = target.find('/', scheme + 3);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

}  // namespace

refused_port::refused_port() { fd_ = calls::bound_loopback(false, port_, 0); }
refused_port::~refused_port() { calls::close(fd_); }

unanswered_port::unanswered_port() {
  fd_ = calls::bound_loopback(true, port_, 0);
  // A backlog of 0 holds one connection; this one fills it, so the kernel
  // drops the handshake of any further connect.
  queued_ = calls::connected_to_loopback(port_);
  if (queued_ < 0) {
    calls::close(fd_);
    throw std::runtime_error("test socket: cannot fill the queue");
  }
}

unanswered_port::~unanswered_port() {
  calls::close(queued_);
  calls::close(fd_);
}

scripted_server::scripted_server()
    : fallback_(scripted_answer::http("HTTP/1.0 404 Not Found", {}, "no scripted answer")) {
  listen_fd_ = calls::bound_loopback(true, port_, 16);
  acceptor_ = std::thread([this] { accept_loop(); });
}

scripted_server::scripted_server(std::vector<scripted_answer> sequence) : scripted_server() {
  std::lock_guard lock(mutex_);
  sequence_ = std::move(sequence);
}

scripted_server::~scripted_server() { stop(); }

std::string scripted_server::address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string scripted_server::url(std::string_view path) const {
  return "http://" + address() + std::string(path);
}

void scripted_server::add(scripted_answer answer) {
  std::lock_guard lock(mutex_);
  sequence_.push_back(std::move(answer));
}

void scripted_server::route(std::string path, scripted_answer answer) {
  std::lock_guard lock(mutex_);
  routes_[std::move(path)] = std::move(answer);
}

void scripted_server::set_fallback(scripted_answer answer) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(answer);
}

void scripted_server::hold_answers(std::size_t count, std::size_t first_free) {
  std::lock_guard lock(mutex_);
  hold_until_ = count;
  free_before_hold_ = first_free;
}

std::size_t scripted_server::most_waiting() const {
  std::lock_guard lock(mutex_);
  return most_waiting_;
}

std::size_t scripted_server::connections() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

bool scripted_server::wait_for_connections(std::size_t count, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return connections_.size() >= count; });
}

std::string scripted_server::request(std::size_t index, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return index < connections_.size() && connections_[index]->ended;
  });
  if (index >= connections_.size()) return "";
  return connections_[index]->received;
}

bool scripted_server::wait_for_end(std::size_t index, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return index < connections_.size() && connections_[index]->ended;
  });
}

std::vector<std::string> scripted_server::requests(int timeout_ms) const {
  std::vector<std::string> all;
  for (std::size_t i = 0; i < connections(); ++i) all.push_back(request(i, timeout_ms));
  return all;
}

std::vector<std::string> scripted_server::targets(int timeout_ms) const {
  std::vector<std::string> all;
  for (const std::string& request : requests(timeout_ms)) all.push_back(target_of(request));
  return all;
}

void scripted_server::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    changed_.notify_all();
    calls::stop_listening(listen_fd_);
    for (const auto& conn : connections_)
      if (conn->fd >= 0) calls::shut(conn->fd);
  }
  acceptor_.join();
  for (std::thread& thread : threads_) thread.join();
  calls::close(listen_fd_);
}

void scripted_server::accept_loop() {
  for (;;) {
    const int fd = calls::accept_connection(listen_fd_);
    std::lock_guard lock(mutex_);
    if (fd < 0) return;
    if (stopping_) {
      calls::close(fd);
      return;
    }
    auto conn = std::make_shared<connection>();
    conn->fd = fd;
    // An unprompted answer is taken in the order of the connections.
    if (next_ < sequence_.size() && !sequence_[next_].read_request) {
      conn->answer = sequence_[next_++];
      conn->has_answer = true;
    }
    connections_.push_back(conn);
    threads_.emplace_back([this, conn] { serve(conn); });
    changed_.notify_all();
  }
}

scripted_answer scripted_server::choose(const std::string& received) {
  const std::string target = target_of(received);
  std::lock_guard lock(mutex_);
  if (auto found = routes_.find(target); found != routes_.end()) return found->second;
  if (auto found = routes_.find(path_of(target)); found != routes_.end()) return found->second;
  if (next_ < sequence_.size()) return sequence_[next_++];
  return fallback_;
}

bool scripted_server::pause_unless_stopping(std::uint16_t port, std::chrono::milliseconds pause) {
  return stepped_time::pause(port, pause, [this] {
    std::lock_guard lock(mutex_);
    return stopping_;
  });
}

void scripted_server::serve(const std::shared_ptr<connection>& conn) {
  int fd;
  {
    std::lock_guard lock(mutex_);
    fd = conn->fd;
  }
  // The client's port names the connection to a stepped clock.
  const std::uint16_t port = calls::port_of(fd, true);
  bool open = true;
  auto read_some = [&] {
    char buffer[4096];
    const long got = calls::receive(fd, buffer, sizeof buffer);
    if (got <= 0) {
      open = false;
      return;
    }
    std::lock_guard lock(mutex_);
    conn->received.append(buffer, static_cast<std::size_t>(got));
  };
  auto received_header = [&] {
    std::lock_guard lock(mutex_);
    return conn->received.find("\r\n\r\n") != std::string::npos;
  };

  scripted_answer answer = conn->answer;
  if (!conn->has_answer) {
    while (open && !received_header()) read_some();
    std::string so_far;
    {
      std::lock_guard lock(mutex_);
      so_far = conn->received;
    }
    answer = choose(so_far);
    std::unique_lock lock(mutex_);
    most_waiting_ = std::max(most_waiting_, ++waiting_);
    if (waiting_ >= hold_until_) hold_until_ = 0;
    changed_.notify_all();
    if (free_before_hold_ > 0)
      --free_before_hold_;
    else if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return hold_until_ == 0 || stopping_; }))
      hold_until_ = 0;  // held long enough: the others are not held up as well
    --waiting_;  // before the answer: the client cannot ask anew before it has it
  }
  bool sending = true;
  for (std::size_t i = 0; sending && i < answer.writes.size(); ++i) {
    if (i > 0 && answer.gap.count() > 0 && !pause_unless_stopping(port, answer.gap)) sending = false;
    if (sending && !calls::send_all(fd, answer.writes[i])) sending = false;
  }

  switch (answer.end) {
    case scripted_answer::ending::reset:
      calls::reset_on_close(fd);
      break;
    case scripted_answer::ending::close:
      calls::finish_sending(fd);
      while (open) read_some();
      break;
    case scripted_answer::ending::silent: {
      const peer_silence quiet(port);
      while (open) read_some();
      break;
    }
    case scripted_answer::ending::deaf: {
      const peer_silence quiet(port);
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_; });
      break;
    }
    case scripted_answer::ending::endless: {
      const std::string filler(65536, 'x');
      while (sending && calls::send_all(fd, filler)) {
        std::lock_guard lock(mutex_);
        if (stopping_) break;
      }
      break;
    }
  }
  std::lock_guard lock(mutex_);
  calls::close(fd);
  conn->fd = -1;
  conn->ended = true;
  changed_.notify_all();
}

}  // namespace testing_support
