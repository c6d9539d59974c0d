// The socket component family's base: T_Net_Component, the socket component
// T_tcpudp with its queue of pending operations, notification window, state
// and trace callback, the queued socket operation tl_socket, E_TcpIpError and
// the host lookups.
#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/classes.hpp"
#include "platform/messages.hpp"
#include "platform/runtime.hpp"

namespace tcpip {

enum TTraceLevel : std::uint8_t {
  tt_command,   // a protocol line the component sent
  tt_response,  // a protocol line the component received
  tt_socket,    // a socket event
};

// The callbacks count as set when not empty. Sender is always the component.
using TTraceProc = std::function<void(const std::string& s, TTraceLevel level)>;
using TDataTransferProc = std::function<void(platform::TObject* Sender, std::int32_t bytes)>;

// The socket layer's one exception: a host name that cannot be resolved.
class E_TcpIpError : public platform::Exception {
 public:
  using Exception::Exception;
  const char* class_name() const noexcept override { return "E_TcpIpError"; }
  std::unique_ptr<platform::Exception> copy() const override;
  [[noreturn]] void raise() const override;
};

inline constexpr std::uint32_t no_address = 0xFFFFFFFFu;  // network order; also 255.255.255.255
inline constexpr std::int32_t buffer_size = 32512;         // 7F00 hexadecimal
inline constexpr int lookup_buffer_size = 1025;

// Notification messages and the component's own event code.
inline constexpr std::uint32_t uwm_hostresolved = 1280;
inline constexpr std::uint32_t uwm_socketevent = 1281;
inline constexpr std::uint16_t ev_next_action = 128;
inline constexpr std::int32_t async_event_mask = 0x3B;  // read, write, accept, connect, close

// State codes of T_tcpudp; descendants use codes from 15 upward.
inline constexpr std::uint16_t st_idle = 0;
inline constexpr std::uint16_t st_resolving = 1;
inline constexpr std::uint16_t st_ready = 4;

// The address of a host name or dotted address (network order), or no_address.
std::uint32_t ResolveHost(const std::string& name);
// Starts a background lookup that posts message to window; returns the buffer
// the host entry is placed in, or none. A dotted address needs no lookup: its
// entry is placed at once and the message posted at once.
std::shared_ptr<char[]> ResolveHostAsync(const std::string& name, platform::HWND window,
                                         std::uint16_t message);
// The dotted text of an address in network order.
std::string AddressToText(std::uint32_t address);

class T_Net_Component : public platform::TComponent {
 public:
  explicit T_Net_Component(platform::TComponent* AOwner);
  ~T_Net_Component() override;

  // Called on every entry of Links when this component goes; does nothing here.
  virtual void LinkDestroyed(T_Net_Component* Sender);

  platform::TList Links;  // other T_Net_Component objects, not owned
};

// One pending operation of one component.
class tl_tcpip : public platform::TObject {
 public:
  virtual void Execute() = 0;
};

class T_tcpudp;

// A synchronous connection that receives fewer bytes than this within any
// one time limit (platform::sync_time_limit) and has not ended fails.
inline constexpr std::int64_t min_progress_bytes = 1024;

// The bytes a connection received over the last time limit, counted in
// sixtieths of it on the platform's monotonic clock, so that a fast start
// does not pay for a trickle later.
class progress_window {
 public:
  using clock = std::chrono::steady_clock;  // of platform::monotonic_now()
  // Starts counting afresh at `now`, over windows of `span`.
  void restart(clock::time_point now, std::chrono::nanoseconds span);
  // Counts `bytes` received at `now`. False when a whole window has passed
  // since the restart and the last one brought fewer than min_progress_bytes.
  bool add(clock::time_point now, std::int64_t bytes);

 private:
  static constexpr std::int64_t slices = 60;
  clock::time_point start_;
  std::chrono::nanoseconds slice_{1};
  std::deque<std::pair<std::int64_t, std::int64_t>> recent_;  // slice, bytes; oldest first
  std::int64_t recent_bytes_ = 0;
};

enum TSocketAction : std::uint8_t { sa_resolve = 0, sa_connect = 1, sa_disconnect = 3 };

class tl_socket : public tl_tcpip {
 public:
  tl_socket(T_tcpudp* AOwner, std::uint8_t AKind) : Kind(AKind), Owner(AOwner) {}
  void Execute() override;

  std::uint8_t Kind;
  T_tcpudp* Owner;  // not owned
};

// The socket component: everything common to stream and datagram sockets.
// Its fields are public, as its users and descendants read and set them.
//
// In synchronous mode (Async false) every socket call blocks and every queued
// operation runs inside the call that queued it. In asynchronous mode queued
// operations are started by messages the component posts to its own Window,
// delivered by the thread's message loop.
class T_tcpudp : public T_Net_Component {
 public:
  explicit T_tcpudp(platform::TComponent* AOwner);
  ~T_tcpudp() override;

  virtual void WndProc(platform::TMessage& Message);
  virtual void Get();
  // Sends line + CR LF; true when all of it went out.
  virtual bool SendCommand(const std::string& line);
  // One receive into buffer (a scratch buffer when null); length gets the
  // count, 0 when nothing was waiting, or what recv gave on an end or failure.
  virtual void ReceiveBuf(std::int32_t socket, void* buffer, std::int32_t& length,
                          std::int32_t size);
  // Sends PendingText first, then the buffer; the count sent or -1.
  virtual std::int32_t SendBuf(std::int32_t socket, const void* buffer, std::int32_t size);
  virtual std::int32_t CreateSocket() = 0;
  virtual void OpenOutputSocket(std::int32_t& socket, std::uint16_t port, std::uint32_t address);
  virtual void OpenInputSocket(std::int32_t& socket, std::uint16_t port,
                               std::uint32_t local_address) = 0;
  virtual std::uint16_t ServicePort(const std::string& name) = 0;
  virtual void Resolve();
  virtual void Connect();
  virtual void Disconnect();
  virtual void ProcessNext();
  virtual void OpenConnection();
  virtual void CloseConnection();
  virtual bool Eof(std::int32_t socket);

  // True when the whole text went out; the rest waits in PendingText.
  bool SendString(std::int32_t socket, const std::string& text);
  // One line, read a byte per receive, without CR and LF; empty when the
  // connection ends (or no byte is waiting) before the LF.
  void ReadLine(std::int32_t socket, std::string& line);
  // 0 no socket, 1 not connected, 2 connected, 3 the test failed.
  int SocketState(std::int32_t socket);
  void CloseSocket(std::int32_t& socket);
  void ConnectSocket(std::int32_t& socket, std::uint16_t port, std::uint32_t address);

  // Appends an operation (owned from now on), then the queue step.
  void QueueOperation(tl_tcpip* operation);
  // Post ev_next_action (asynchronous) or run ProcessNext (synchronous).
  void QueueStep();

  platform::HWND Window = 0;
  std::shared_ptr<char[]> LookupBuffer;  // a pending asynchronous lookup's host entry
  std::int32_t Socket = -1;
  std::string Host;
  TTraceProc OnTrace;
  std::uint16_t Port = 0;
  std::uint32_t Address = no_address;
  bool Closed = false;
  // Set when a receive failed (a reset, an error, the time limit; Closed is
  // set with it), when a send failed in any way, or when a synchronous
  // connection received too little within a time limit, rather than finding
  // the connection ended in order; cleared by a successful Connect. A failed
  // socket is not asked again, so one request waits at most one time limit.
  bool Failed = false;
  // Set with Failed when the failure was the time limit, or too little
  // within it: the peer went silent or slow rather than refusing or
  // resetting. Cleared with Failed.
  bool TimedOut = false;
  // The blocking connect of Socket succeeded: until a receive finds the end,
  // the socket is connected and Eof needs no system call to tell.
  bool PeerConnected = false;
  platform::TMemoryStream Stream;
  std::unique_ptr<char[]> Buffer;  // buffer_size bytes
  std::string PendingText;
  bool Async = false;
  std::uint16_t State = st_idle;
  platform::TList Actions;  // owned tl_tcpip objects, first entry next

 protected:
  // Trace parts whose text is built only when a line is traced.
  struct dotted_address {
    std::uint32_t address;
  };
  static std::int16_t port_text(std::uint16_t port) { return static_cast<std::int16_t>(port); }

  // Builds the text and calls OnTrace, only when it is set.
  template <class... Parts>
  void Trace(TTraceLevel level, const Parts&... parts) {
    if (!OnTrace) return;
    std::string text;
    (append_part(text, parts), ...);
    OnTrace(text, level);
  }

  // Appends count bytes to Stream, writing again until all are written.
  void AppendToStream(const char* bytes, std::int32_t count);
  // Removes the first queued operation, runs it and frees it.
  void RunFirstAction();
  // Frees every queued operation without running it.
  void DropActions();
  // Marks the socket failed when a send failed otherwise than by "would block".
  void NoteSendFailure();
  // Counts a synchronous receive; a trickle fails the socket.
  void CheckProgress(std::int32_t received);

  progress_window progress_;

 private:
  static void append_part(std::string& text, std::string_view part) { text += part; }
  static void append_part(std::string& text, dotted_address part) {
    text += AddressToText(part.address);
  }
  template <std::integral Number>
  static void append_part(std::string& text, Number number) {
    text += std::to_string(number);
  }
};

}  // namespace tcpip
