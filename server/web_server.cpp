// Connection threads of the comics server.
#include "server/web_server.hpp"

#include <atomic>
#include <list>
#include <memory>
#include <system_error>
#include <thread>

#include "server/comic_site.hpp"

namespace server {

exchange answer_request(std::string_view head, day today, int days) {
  exchange done;
  const auto line = parse_request_line(head);
  if (!line) {
    done.answer = status_page(400);
    return done;
  }
  done.method = line->method;
  done.target = line->target;
  done.head_only = line->method == "HEAD";
  if (line->method != "GET" && !done.head_only) {
    done.answer = status_page(405);
    return done;
  }
  try {
    done.answer = serve(line->path, archive_window{today, days}, line->query);
  } catch (const std::exception&) {
    done.answer = status_page(500);
  }
  return done;
}

web_server::web_server(platform::server_socket& socket, server_settings settings, std::ostream& log)
    : socket_(socket), settings_(std::move(settings)), log_(log) {}

day web_server::today() const {
  return settings_.fixed_today ? *settings_.fixed_today : local_today();
}

void web_server::run() {
  struct worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<worker> workers;
  const auto reap = [&workers] {
    for (auto it = workers.begin(); it != workers.end();) {
      if (!it->done->load()) {
        ++it;
        continue;
      }
      it->thread.join();
      it = workers.erase(it);
    }
  };

  for (;;) {
    {
      // At the limit, further connections wait in the listen queue.
      std::unique_lock<std::mutex> lock(count_mutex_);
      while (running_ >= settings_.max_connections && !socket_.stopped())
        slot_free_.wait_for(lock, std::chrono::milliseconds(100));
    }
    const platform::connection_handle connection = socket_.accept();
    if (connection < 0) break;
    reap();
    {
      std::lock_guard<std::mutex> lock(count_mutex_);
      ++running_;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      workers.push_back({std::thread([this, connection, done] {
                           handle(connection);
                           {
                             std::lock_guard<std::mutex> lock(count_mutex_);
                             --running_;
                           }
                           slot_free_.notify_one();
                           done->store(true);
                         }),
                         done});
    } catch (const std::system_error&) {
      // No thread to be had: say so at once rather than end the server.
      platform::server_socket::write(connection, format_response(status_page(503), false),
                                     std::chrono::steady_clock::now() + std::chrono::seconds(1));
      platform::server_socket::close(connection);
      std::lock_guard<std::mutex> lock(count_mutex_);
      --running_;
    }
  }
  for (worker& w : workers) w.thread.join();
}

void web_server::handle(platform::connection_handle connection) {
  const auto until = std::chrono::steady_clock::now() + settings_.read_limit;
  std::string received;
  char buffer[4096];
  exchange done;
  for (;;) {
    if (const auto end = find_head_end(received)) {
      done = answer_request(std::string_view(received).substr(0, *end), today(), settings_.days);
      break;
    }
    if (received.size() > max_head_size) {
      done.answer = status_page(400);
      break;
    }
    const platform::read_result got = socket_.read(connection, buffer, sizeof buffer, until);
    bool answer = true;
    switch (got.status) {
      case platform::read_status::data:
        received.append(buffer, got.count);
        continue;
      case platform::read_status::closed:
        // A request cut off before its empty line cannot be read; silence gets no answer.
        answer = !received.empty();
        done.answer = status_page(400);
        break;
      case platform::read_status::timed_out:
        done.answer = status_page(408);
        break;
      case platform::read_status::stopped:
      case platform::read_status::failed:
        answer = false;
        break;
    }
    if (!answer) {
      platform::server_socket::close(connection);
      return;
    }
    break;
  }
  const std::string bytes = format_response(done.answer, done.head_only);
  platform::server_socket::write(connection, bytes,
                                 std::chrono::steady_clock::now() + settings_.read_limit);
  write_log(done, done.head_only ? 0 : done.answer.body.size());
  platform::server_socket::close_after_answer(connection);
}

void web_server::write_log(const exchange& done, std::size_t bytes) {
  if (!settings_.log) return;
  std::lock_guard<std::mutex> lock(log_mutex_);
  log_ << done.method << ' ' << done.target << ' ' << done.answer.status << ' ' << bytes << std::endl;
}

}  // namespace server
