// The comics server's event loop and its worker threads.
#include "server/web_server.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/waits.hpp"
#include "server/archive_folder.hpp"
#include "server/comic_site.hpp"

namespace server {
namespace {

using clock_type = std::chrono::steady_clock;
using platform::connection_handle;
using platform::server_socket;

constexpr std::string_view image_type = "image/gif";

// After an answer the loop reads and drops what the client still sends, so
// that closing with unread bytes does not reset the connection and destroy
// the answer before the client has read it; for a short while, and not much.
constexpr auto drain_limit = std::chrono::seconds(2);
constexpr std::size_t drain_bytes = std::size_t{1} << 20;

// How long accepting pauses when it fails: no handle left and no idle
// connection to drop for one, or an error of the listening socket.
constexpr auto accept_pause = std::chrono::milliseconds(100);

// Connections taken from the listen queue in one round, so that the open ones
// are served between rounds.
constexpr int accepts_per_round = 64;

std::string cache_key(day today, int days, std::string_view path) {
  return compact_date(today) + " " + std::to_string(days) + " " + std::string(path);
}

// What the log line of an answer says.
struct log_entry {
  std::string method = "-";
  std::string target = "-";
  int status = 0;
  std::size_t body_bytes = 0;
};

struct answer_bytes {
  log_entry log;
  std::string bytes;
};

answer_bytes format(const exchange& done) {
  return {{done.method, done.target, done.answer.status,
           done.head_only ? 0 : done.answer.body.size()},
          format_response(done.answer, done.head_only)};
}

answer_bytes status_answer(int status) {
  exchange done;
  done.answer = status_page(status);
  return format(done);
}

// Whether answering means rendering a strip: an image the cache lacks. All
// else (pages, errors, cached strips) takes a moment.
bool needs_rendering(std::string_view head, day today, int days, const strip_cache& cache) {
  const auto line = parse_request_line(head);
  if (!line || !line->path.ends_with(".gif")) return false;
  return !cache.contains(cache_key(today, days, line->path));
}

// The request line of a head, or the answer that ends the exchange.
std::optional<request_line> read_request(std::string_view head, exchange& done) {
  auto line = parse_request_line(head);
  if (!line) {
    done.answer = status_page(400);
    return std::nullopt;
  }
  done.method = line->method;
  done.target = line->target;
  done.head_only = line->method == "HEAD";
  if (line->method != "GET" && !done.head_only) {
    done.answer = status_page(405);
    return std::nullopt;
  }
  return line;
}

void answer_from(const request_line& line, const strip_source& source, exchange& done) {
  try {
    done.answer = serve(line.path, source, line.query);
  } catch (const std::exception&) {
    done.answer = status_page(500);
  }
}

}  // namespace

exchange answer_request(std::string_view head, day today, int days, strip_cache* cache) {
  exchange done;
  const auto line = read_request(head, done);
  if (!line) return done;
  const std::string key = cache ? cache_key(today, days, line->path) : std::string();
  if (cache) {
    if (const strip_cache::bytes hit = cache->find(key)) {
      done.answer = {200, std::string(image_type), *hit};
      return done;
    }
  }
  answer_from(*line, rendered_strips(archive_window{today, days}), done);
  if (cache && done.answer.status == 200 && done.answer.content_type == image_type)
    cache->store(key, std::make_shared<const std::string>(done.answer.body));
  return done;
}

exchange answer_request(std::string_view head, const strip_source& source) {
  exchange done;
  if (const auto line = read_request(head, done)) answer_from(*line, source, done);
  return done;
}

web_server::web_server(platform::server_socket& socket, server_settings settings, std::ostream& log)
    : socket_(socket), settings_(std::move(settings)), log_(log), cache_(settings_.cache_bytes) {}

day web_server::today() const {
  return settings_.fixed_today ? *settings_.fixed_today : local_today();
}

// Owns every open connection. Connections move through reading (the head
// arrives), answering (a worker renders a strip; other answers skip this),
// holding (the answer waits for the latency to pass), writing and draining.
class web_server::event_loop {
 public:
  explicit event_loop(web_server& server) : server_(server), socket_(server.socket_) {}
  ~event_loop() { stop_workers(); }
  event_loop(const event_loop&) = delete;
  event_loop& operator=(const event_loop&) = delete;

  void run();

 private:
  enum class phase { reading, answering, holding, writing, draining };

  struct connection {
    phase state = phase::reading;
    clock_type::time_point until;  // when the current phase gives up, or holding ends
    clock_type::time_point due;    // the earliest start of the answer
    std::string received;
    std::list<connection_handle>::iterator arrival;  // while reading
    answer_bytes answer;
    std::size_t sent = 0;
    std::size_t drained = 0;
  };

  struct job {
    connection_handle connection;
    std::string head;
    day today;
  };
  struct answered {
    connection_handle connection;
    answer_bytes answer;
  };

  void start_workers();
  void stop_workers();
  void work();
  answer_bytes answer(const std::string& head, day today) const;

  void accept_round(clock_type::time_point now);
  void begin_stop();
  void expire(clock_type::time_point now);
  clock_type::time_point next_deadline() const;

  void on_readable(connection_handle fd, connection& c, clock_type::time_point now);
  void on_writable(connection_handle fd, connection& c, clock_type::time_point now);
  void on_drainable(connection_handle fd, connection& c);
  void head_complete(connection_handle fd, connection& c, clock_type::time_point now);
  void start_answer(connection_handle fd, connection& c, answer_bytes answer,
                    clock_type::time_point now);
  void send_answer(connection_handle fd, connection& c, clock_type::time_point now);
  void answer_sent(connection_handle fd, connection& c, clock_type::time_point now);
  void leave_reading(connection& c);
  void evict_oldest_reading();
  void close_connection(connection_handle fd);
  void write_log(const log_entry& entry);

  web_server& server_;
  server_socket& socket_;
  std::unordered_map<connection_handle, connection> open_;
  // Open connections that are not draining: those the limit counts. Draining
  // ones end on their own within drain_limit.
  std::size_t in_service_ = 0;
  std::list<connection_handle> arrivals_;  // reading connections, oldest first
  bool stopping_ = false;
  clock_type::time_point accept_paused_until_{};

  std::vector<std::thread> workers_;
  std::mutex work_mutex_;
  std::condition_variable work_ready_;
  std::deque<job> jobs_;
  std::vector<answered> answers_;
  bool quitting_ = false;
};

void web_server::run() { event_loop(*this).run(); }

void web_server::event_loop::start_workers() {
  std::size_t count = server_.settings_.workers;
  if (count == 0) count = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 8);
  for (std::size_t i = 0; i < count; ++i) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer workers; with none at all the loop answers by itself
    }
  }
}

void web_server::event_loop::stop_workers() {
  {
    std::lock_guard<std::mutex> lock(work_mutex_);
    quitting_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
}

void web_server::event_loop::work() {
  for (;;) {
    job next;
    {
      std::unique_lock<std::mutex> lock(work_mutex_);
      work_ready_.wait(lock, [this] { return quitting_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      next = std::move(jobs_.front());
      jobs_.pop_front();
    }
    answered done{next.connection, answer(next.head, next.today)};
    {
      std::lock_guard<std::mutex> lock(work_mutex_);
      answers_.push_back(std::move(done));
    }
    socket_.wake();
  }
}

answer_bytes web_server::event_loop::answer(const std::string& head, day today) const {
  try {
    if (server_.settings_.archive)
      return format(answer_request(head, archive_folder(*server_.settings_.archive, today)));
    return format(answer_request(head, today, server_.settings_.days, &server_.cache_));
  } catch (const std::exception&) {
    return status_answer(500);
  }
}

void web_server::event_loop::run() {
  start_workers();
  std::vector<platform::watched_connection> watches;
  for (;;) {
    expire(platform::monotonic_now());
    if (stopping_ && open_.empty()) break;

    watches.clear();
    for (const auto& [fd, c] : open_) {
      if (c.state == phase::answering || c.state == phase::holding) continue;
      watches.push_back({fd, c.state == phase::writing, false});
    }
    const auto now = platform::monotonic_now();
    // At the limit a new connection may still come in when an idle one can make room.
    const bool room = in_service_ < server_.settings_.max_connections || !arrivals_.empty();
    const bool accepting = !stopping_ && room && now >= accept_paused_until_;
    auto until = next_deadline();
    if (!stopping_ && room && now < accept_paused_until_) until = std::min(until, accept_paused_until_);

    const platform::wait_result got = socket_.wait(watches, accepting, !stopping_, until);
    const auto after = platform::monotonic_now();
    if (got.stop_requested) begin_stop();
    if (got.woken) {
      std::vector<answered> ready;
      {
        std::lock_guard<std::mutex> lock(work_mutex_);
        ready.swap(answers_);
      }
      for (answered& a : ready) start_answer(a.connection, open_.at(a.connection), std::move(a.answer), after);
    }
    for (const platform::watched_connection& w : watches) {
      if (!w.ready) continue;
      const auto found = open_.find(w.connection);
      if (found == open_.end()) continue;  // closed earlier in this round
      connection& c = found->second;
      switch (c.state) {
        case phase::reading: on_readable(w.connection, c, after); break;
        case phase::writing: on_writable(w.connection, c, after); break;
        case phase::draining: on_drainable(w.connection, c); break;
        case phase::answering:
        case phase::holding: break;
      }
    }
    if (got.incoming && !stopping_) accept_round(after);
  }
  stop_workers();
}

void web_server::event_loop::accept_round(clock_type::time_point now) {
  for (int i = 0; i < accepts_per_round; ++i) {
    if (in_service_ >= server_.settings_.max_connections && arrivals_.empty()) return;
    const platform::accept_result got = socket_.try_accept();
    switch (got.status) {
      case platform::accept_status::accepted: {
        connection& c = open_[got.connection];
        ++in_service_;
        if (server_.settings_.send_buffer > 0)
          server_socket::limit_send_buffer(got.connection, server_.settings_.send_buffer);
        c.until = now + server_.settings_.read_limit;
        c.due = now + server_.settings_.latency;
        c.arrival = arrivals_.insert(arrivals_.end(), got.connection);
        // Room for the newcomer: the oldest connection still sending its head goes.
        if (in_service_ > server_.settings_.max_connections) evict_oldest_reading();
        // The request often arrives with the connection.
        on_readable(got.connection, c, now);
        continue;
      }
      case platform::accept_status::none_waiting:
        return;
      case platform::accept_status::out_of_handles:
        if (!arrivals_.empty()) {
          evict_oldest_reading();
          continue;
        }
        accept_paused_until_ = now + accept_pause;
        return;
      case platform::accept_status::failed:
        accept_paused_until_ = now + accept_pause;
        return;
    }
  }
}

void web_server::event_loop::begin_stop() {
  stopping_ = true;
  // Requests not yet complete get no answer; answers under way are finished.
  while (!arrivals_.empty()) close_connection(arrivals_.front());
}

void web_server::event_loop::expire(clock_type::time_point now) {
  // Reading connections share one limit, so the oldest expire first.
  while (!arrivals_.empty()) {
    const connection_handle fd = arrivals_.front();
    connection& c = open_.at(fd);
    if (c.until > now) break;
    leave_reading(c);
    start_answer(fd, c, status_answer(408), now);
  }
  // Held answers leave at their time, or at once when the server stops.
  std::vector<connection_handle> ready;
  std::vector<connection_handle> over;
  for (const auto& [fd, c] : open_) {
    if (c.state == phase::holding && (c.until <= now || stopping_)) ready.push_back(fd);
    if ((c.state == phase::writing || c.state == phase::draining) && c.until <= now) over.push_back(fd);
  }
  for (const connection_handle fd : ready) send_answer(fd, open_.at(fd), now);
  for (const connection_handle fd : over) {
    connection& c = open_.at(fd);
    // An answer the client did not take in time is logged all the same.
    if (c.state == phase::writing) write_log(c.answer.log);
    close_connection(fd);
  }
}

clock_type::time_point web_server::event_loop::next_deadline() const {
  auto earliest = server_socket::deadline::max();
  for (const auto& [fd, c] : open_)
    if (c.state != phase::answering) earliest = std::min(earliest, c.until);
  return earliest;
}

void web_server::event_loop::on_readable(connection_handle fd, connection& c,
                                         clock_type::time_point now) {
  char buffer[4096];
  for (;;) {
    const platform::read_result got = server_socket::read(fd, buffer, sizeof buffer);
    switch (got.status) {
      case platform::read_status::data:
        break;
      case platform::read_status::nothing_yet:
        return;
      case platform::read_status::closed:
        // A request cut off before its empty line cannot be read; silence gets no answer.
        if (c.received.empty()) {
          close_connection(fd);
          return;
        }
        leave_reading(c);
        start_answer(fd, c, status_answer(400), now);
        return;
      case platform::read_status::failed:
        close_connection(fd);
        return;
    }
    c.received.append(buffer, got.count);
    if (find_head_end(c.received)) {
      head_complete(fd, c, now);
      return;
    }
    if (c.received.size() > max_head_size) {
      leave_reading(c);
      start_answer(fd, c, status_answer(400), now);
      return;
    }
  }
}

void web_server::event_loop::head_complete(connection_handle fd, connection& c,
                                           clock_type::time_point now) {
  std::string head = std::move(c.received);
  head.resize(*find_head_end(head));
  leave_reading(c);
  const day today = server_.today();
  // The hand-over to a worker and back costs more than a page or a cached strip.
  // A folder's strips are read, not drawn.
  if (workers_.empty() || server_.settings_.archive ||
      !needs_rendering(head, today, server_.settings_.days, server_.cache_)) {
    start_answer(fd, c, answer(head, today), now);
    return;
  }
  c.state = phase::answering;
  {
    std::lock_guard<std::mutex> lock(work_mutex_);
    jobs_.push_back({fd, std::move(head), today});
  }
  work_ready_.notify_one();
}

void web_server::event_loop::start_answer(connection_handle fd, connection& c, answer_bytes answer,
                                          clock_type::time_point now) {
  c.answer = std::move(answer);
  c.sent = 0;
  if (now >= c.due || stopping_) {
    send_answer(fd, c, now);
    return;
  }
  // Unwatched until its time: next_deadline() ends the loop's wait then.
  c.state = phase::holding;
  c.until = c.due;
}

void web_server::event_loop::send_answer(connection_handle fd, connection& c,
                                         clock_type::time_point now) {
  c.state = phase::writing;
  c.until = now + server_.settings_.read_limit;
  on_writable(fd, c, now);
}

void web_server::event_loop::on_writable(connection_handle fd, connection& c,
                                         clock_type::time_point now) {
  const std::string& bytes = c.answer.bytes;
  while (c.sent < bytes.size()) {
    const long n = server_socket::write(fd, std::string_view(bytes).substr(c.sent));
    if (n == 0) return;  // the socket is full; wait for room
    if (n < 0) break;    // the client is gone: the answer ends here
    c.sent += static_cast<std::size_t>(n);
  }
  answer_sent(fd, c, now);
}

void web_server::event_loop::answer_sent(connection_handle fd, connection& c,
                                         clock_type::time_point now) {
  write_log(c.answer.log);
  c.answer.bytes = std::string();
  server_socket::finish_sending(fd);
  c.state = phase::draining;
  --in_service_;
  c.until = now + drain_limit;
  on_drainable(fd, c);
}

void web_server::event_loop::on_drainable(connection_handle fd, connection& c) {
  char discard[4096];
  while (c.drained < drain_bytes) {
    const platform::read_result got = server_socket::read(fd, discard, sizeof discard);
    if (got.status == platform::read_status::nothing_yet) return;
    if (got.status != platform::read_status::data) break;  // the client has closed
    c.drained += got.count;
  }
  close_connection(fd);
}

void web_server::event_loop::leave_reading(connection& c) {
  arrivals_.erase(c.arrival);
  c.arrival = arrivals_.end();
  c.received = std::string();
}

void web_server::event_loop::evict_oldest_reading() {
  const connection_handle fd = arrivals_.front();
  // One try only: the slot is wanted now, and an idle client may not read.
  const answer_bytes busy = status_answer(503);
  server_socket::write(fd, busy.bytes);
  write_log(busy.log);
  close_connection(fd);
}

void web_server::event_loop::close_connection(connection_handle fd) {
  const auto found = open_.find(fd);
  if (found == open_.end()) return;
  if (found->second.arrival != arrivals_.end()) arrivals_.erase(found->second.arrival);
  if (found->second.state != phase::draining) --in_service_;
  server_socket::close(fd);
  open_.erase(found);
}

void web_server::event_loop::write_log(const log_entry& entry) {
  if (!server_.settings_.log) return;
  server_.log_ << entry.method << ' ' << entry.target << ' ' << entry.status << ' '
               << entry.body_bytes << std::endl;
}

}  // namespace server
