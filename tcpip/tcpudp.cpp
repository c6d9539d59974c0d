// The socket component base: construction and destruction, the operation
// queue, the window procedure, and the socket work shared by all descendants.
#include "tcpip/tcpudp.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/sockets.hpp"
#include "platform/waits.hpp"

namespace tcpip {

std::unique_ptr<platform::Exception> E_TcpIpError::copy() const {
  return std::make_unique<E_TcpIpError>(*this);
}
void E_TcpIpError::raise() const { throw *this; }

namespace {

// The first address of the host entry laid out in a lookup buffer, read
// byte-wise since the buffer may never have been filled (a failed lookup).
std::uint32_t first_address(const char* buffer) {
  platform::THostEnt entry;
  std::memcpy(&entry, buffer, sizeof entry);
  if (entry.h_length < 4 || !entry.h_addr_list) return no_address;
  const char* first = entry.h_addr_list[0];
  if (!first) return no_address;
  std::uint32_t address;
  std::memcpy(&address, first, sizeof address);
  return address;
}

}  // namespace

std::uint32_t ResolveHost(const std::string& name) {
  // Answers are remembered for the length of the run: the resolver would
  // read its files again for every request.
  static std::mutex answers_mutex;
  static std::unordered_map<std::string, std::uint32_t> answers;
  try {
    if (name.empty()) return no_address;
    const std::uint32_t dotted = platform::inet_addr(name.c_str());
    if (dotted != platform::INADDR_NONE_ADDRESS) return dotted;
    {
      std::lock_guard lock(answers_mutex);
      if (const auto known = answers.find(name); known != answers.end()) return known->second;
    }
    const platform::THostEnt* entry = platform::gethostbyname(name.c_str());
    if (!entry || entry->h_length <= 0 || !entry->h_addr_list || !entry->h_addr_list[0])
      return no_address;
    std::uint32_t address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    std::lock_guard lock(answers_mutex);
    answers.emplace(name, address);
    return address;
  } catch (...) {
    return no_address;
  }
}

std::shared_ptr<char[]> ResolveHostAsync(const std::string& name, platform::HWND window,
                                         std::uint16_t message) {
  if (name.empty()) return nullptr;
  try {
    std::shared_ptr<char[]> buffer(new char[lookup_buffer_size]());
    const std::uint32_t dotted = platform::inet_addr(name.c_str());
    if (dotted != platform::INADDR_NONE_ADDRESS) {
      platform::place_host_entry(buffer.get(), lookup_buffer_size, dotted);
      platform::PostMessageA(window, message, 0, 0);
      return buffer;
    }
    if (platform::WSAAsyncGetHostByName(window, message, name.c_str(), buffer,
                                        lookup_buffer_size) == 0)
      return nullptr;
    return buffer;
  } catch (...) {
    return nullptr;
  }
}

std::string AddressToText(std::uint32_t address) {
  const std::uint32_t host_order = platform::ntohl(address);
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (shift != 24) text += '.';
    text += std::to_string((host_order >> shift) & 0xFFu);
  }
  return text;
}

void progress_window::restart(clock::time_point now, std::chrono::nanoseconds span) {
  start_ = now;
  slice_ = std::max(span / slices, std::chrono::nanoseconds(1));
  recent_.clear();
  recent_bytes_ = 0;
}

bool progress_window::add(clock::time_point now, std::int64_t bytes) {
  const std::int64_t current = (now - start_) / slice_;
  if (recent_.empty() || recent_.back().first != current) recent_.emplace_back(current, 0);
  recent_.back().second += bytes;
  recent_bytes_ += bytes;
  // Slices older than one window fall out of it.
  while (recent_.front().first <= current - slices) {
    recent_bytes_ -= recent_.front().second;
    recent_.pop_front();
  }
  return current < slices || recent_bytes_ >= min_progress_bytes;
}

T_Net_Component::T_Net_Component(platform::TComponent* AOwner) : TComponent(AOwner) {}

T_Net_Component::~T_Net_Component() {
  for (int i = 0; i < Links.Count(); ++i)
    if (platform::TObject* link = Links[i]) static_cast<T_Net_Component*>(link)->LinkDestroyed(this);
}

void T_Net_Component::LinkDestroyed(T_Net_Component*) {}

void tl_socket::Execute() {
  switch (Kind) {
    case sa_resolve:
      Owner->Resolve();
      return;
    case sa_connect:
      Owner->Connect();
      return;
    case sa_disconnect:
      Owner->Disconnect();
      return;
    default:
      return;  // a byte of any other value does nothing
  }
}

T_tcpudp::T_tcpudp(platform::TComponent* AOwner)
    : T_Net_Component(AOwner), Buffer(new char[buffer_size]) {
  // The procedure dispatches virtually, so the most derived WndProc gets the
  // messages; none is delivered before construction is over.
  Window = platform::AllocateHWnd([this](platform::TMessage& message) { WndProc(message); });
}

T_tcpudp::~T_tcpudp() {
  DropActions();
  OnTrace = nullptr;
  Buffer.reset();
  Stream.Clear();
  if (Socket != -1) T_tcpudp::Disconnect();
  platform::DeallocateHWnd(Window);
  LookupBuffer.reset();
}

void T_tcpudp::DropActions() {
  while (Actions.Count() > 0) {
    platform::TObject* first = Actions.First();
    Actions.Delete(0);
    delete first;
  }
}

void T_tcpudp::AppendToStream(const char* bytes, std::int32_t count) {
  for (std::int32_t written = 0; written < count;)
    written += static_cast<std::int32_t>(
        Stream.Write(bytes + written, static_cast<std::size_t>(count - written)));
}

void T_tcpudp::RunFirstAction() {
  std::unique_ptr<platform::TObject> first(Actions.First());
  Actions.Delete(0);
  static_cast<tl_tcpip*>(first.get())->Execute();
}

void T_tcpudp::QueueOperation(tl_tcpip* operation) {
  try {
    Actions.Add(operation);
  } catch (...) {
    delete operation;
    throw;
  }
  QueueStep();
}

void T_tcpudp::QueueStep() {
  if (Async) {
    platform::PostMessageA(Window, uwm_socketevent, 0, platform::MakeLParam(ev_next_action, 0));
    return;
  }
  ProcessNext();
}

void T_tcpudp::WndProc(platform::TMessage& Message) {
  switch (Message.Msg) {
    case platform::WM_QUERYENDSESSION:
      Message.Result = 1;
      return;
    case uwm_hostresolved:
      if (!LookupBuffer) return;
      Address = first_address(LookupBuffer.get());
      LookupBuffer.reset();
      State = st_ready;
      QueueStep();
      return;
    default:
      return;  // 1281 is for the descendants; nothing else is handled
  }
}

void T_tcpudp::Get() {}

bool T_tcpudp::SendCommand(const std::string& line) {
  const bool sent = SendString(Socket, line + "\r\n");
  Trace(tt_command, line);
  return sent;
}

void T_tcpudp::ReceiveBuf(std::int32_t socket, void* buffer, std::int32_t& length,
                          std::int32_t size) {
  std::unique_ptr<char[]> scratch;
  if (!buffer) {
    scratch.reset(new char[size > 0 ? size : 1]);
    buffer = scratch.get();
  }
  if (Failed) {
    // Gave up once: asking again would only wait out another time limit.
    length = -1;
    Closed = true;
    return;
  }
  length = platform::recv(socket, static_cast<char*>(buffer), size, 0);
  if (length > 0) {
    Trace(tt_socket, "Received ", length, " bytes on socket ID ", socket);
  } else if (length < 0 && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
    length = 0;
    return;
  } else {
    Closed = true;
    // 0 is the peer's orderly close; anything else is a failure.
    if (length < 0) {
      Failed = true;
      TimedOut = platform::WSAGetLastError() == platform::WSAETIMEDOUT;
    }
  }
  if (!Async) CheckProgress(length > 0 ? length : 0);
}

void T_tcpudp::CheckProgress(std::int32_t received) {
  // A connection that has ended, in order or not, has no trickle to stop.
  if (Closed) return;
  if (progress_.add(platform::monotonic_now(), received)) return;
  // A trickle: the connection would hold the program for as long as the
  // peer likes.
  Failed = true;
  TimedOut = true;
  Closed = true;
}

std::int32_t T_tcpudp::SendBuf(std::int32_t socket, const void* buffer, std::int32_t size) {
  if (!PendingText.empty()) {
    std::string earlier;
    earlier.swap(PendingText);
    // New bytes never overtake older ones: while a remainder is left, nothing
    // new goes out (the last error stays that of the failed send).
    if (!SendString(socket, earlier)) return -1;
  }
  if (Failed) return -1;
  const std::int32_t count = platform::send(socket, static_cast<const char*>(buffer), size, 0);
  if (count > 0) Trace(tt_socket, "Sent ", count, " bytes on socket ID ", socket);
  if (count < 0) NoteSendFailure();
  return count;
}

void T_tcpudp::NoteSendFailure() {
  const int error = platform::WSAGetLastError();
  // In asynchronous mode a full socket buffer is no failure: the rest goes
  // out when the socket says it can take more.
  if (error == platform::WSAEWOULDBLOCK) return;
  Failed = true;
  TimedOut = error == platform::WSAETIMEDOUT;
}

bool T_tcpudp::SendString(std::int32_t socket, const std::string& text) {
  const auto length = static_cast<std::int32_t>(text.size());
  const std::int32_t count = SendBuf(socket, text.data(), length);
  if (count >= length) return true;
  // Behind whatever is still waiting from before, so no byte is lost.
  PendingText += text.substr(count > 0 ? static_cast<std::size_t>(count) : 0);
  return false;
}

void T_tcpudp::OpenOutputSocket(std::int32_t& socket, std::uint16_t port, std::uint32_t address) {
  CloseSocket(socket);
  socket = CreateSocket();
  if (Async) platform::WSAAsyncSelect(socket, Window, uwm_socketevent, async_event_mask);
  ConnectSocket(socket, port, address);
}

void T_tcpudp::ConnectSocket(std::int32_t& socket, std::uint16_t port, std::uint32_t address) {
  platform::TSockAddrIn record{};
  record.sin_family = platform::WS_AF_INET;
  record.sin_port = platform::htons(port);
  record.sin_addr = address;
  if (platform::connect(socket, &record, sizeof record) != 0) {
    if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) return;  // under way
    CloseSocket(socket);
    Trace(tt_socket, "Failed to open output socket ", port_text(port), " to host ",
          dotted_address{address});
    return;
  }
  if (!Async) PeerConnected = true;
  Trace(tt_socket, "Opened output socket ", port_text(port), " to host ", dotted_address{address},
        " successfully; ID ", socket);
}

void T_tcpudp::Resolve() {
  State = st_resolving;
  if (Async) {
    LookupBuffer = ResolveHostAsync(Host, Window, uwm_hostresolved);
    return;
  }
  Address = ResolveHost(Host);
  if (Address == no_address) throw E_TcpIpError("Couldn't resolve hostname " + Host);
  State = st_ready;
}

void T_tcpudp::Connect() {
  if (Address == no_address) return;
  OpenOutputSocket(Socket, Port, Address);
  if (Socket == -1) return;
  Closed = false;
  Failed = false;
  TimedOut = false;
  progress_.restart(platform::monotonic_now(), platform::sync_time_limit());
  State = st_ready;
}

void T_tcpudp::Disconnect() {
  CloseSocket(Socket);
  Socket = -1;
  State = st_idle;
}

void T_tcpudp::ProcessNext() {
  if (State != st_idle && State != st_ready) return;
  if (Actions.Count() == 0) return;
  RunFirstAction();
}

void T_tcpudp::OpenConnection() {
  QueueOperation(new tl_socket(this, sa_resolve));
  QueueOperation(new tl_socket(this, sa_connect));
}

void T_tcpudp::CloseConnection() { QueueOperation(new tl_socket(this, sa_disconnect)); }

bool T_tcpudp::Eof(std::int32_t socket) {
  if (Closed) return true;
  if (PeerConnected && socket == Socket) return false;
  return SocketState(socket) != 2;
}

void T_tcpudp::ReadLine(std::int32_t socket, std::string& line) {
  line.clear();
  std::string accumulated;
  for (;;) {
    char byte = 0;
    std::int32_t count = 0;
    ReceiveBuf(socket, &byte, count, 1);
    if (count <= 0) return;
    if (byte == '\n') {
      line = std::move(accumulated);
      return;
    }
    if (byte != '\r') accumulated += byte;
    if (Eof(socket)) return;
  }
}

int T_tcpudp::SocketState(std::int32_t socket) {
  if (socket == -1) return 0;
  platform::TSockAddrIn peer{};
  int length = sizeof peer;
  if (platform::getpeername(socket, &peer, &length) == 0) return 2;
  return platform::WSAGetLastError() == platform::WSAENOTCONN ? 1 : 3;
}

void T_tcpudp::CloseSocket(std::int32_t& socket) {
  if (socket == -1) return;
  PeerConnected = false;
  platform::closesocket(socket);
  Trace(tt_socket, "Closed socket ID ", socket);
  socket = -1;
}

}  // namespace tcpip
