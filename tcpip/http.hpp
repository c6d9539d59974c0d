// The HTTP/1.0 client component T_HTTP and its queued operation tl_http: one
// GET per connection, the body read until the server closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/classes.hpp"
#include "tcpip/tcp.hpp"

namespace tcpip {

enum TRequestKind : std::uint8_t { rk_post = 0, rk_head = 1, rk_get = 2 };
enum THttpAction : std::uint8_t { ha_request = 0, ha_disconnect = 1 };

// How a transfer ended. Only ho_complete is an orderly end: the connection was
// made, a status line and the whole header arrived, the server closed the
// connection in order, and the body met its Content-Length.
enum THttpOutcome : std::uint8_t {
  ho_complete,
  ho_no_connection,  // the connection could not be made
  ho_failed,         // a reset or an error
  ho_timed_out,      // the time limit passed without progress, or with too little
  ho_too_large,      // the body went past max_body_size
  ho_header_too_long,  // the header went past max_header_size
  ho_no_status,      // no status line was recognised
  ho_cut_short,      // closed in order, but inside the header or short of Content-Length
  ho_malformed,      // a status line or header value that is no number: Get raised
                     // the conversion error
};

// The largest body a transfer takes; past it the transfer stops and fails.
inline constexpr std::size_t max_body_size = 64u << 20;
// The most header bytes (status line and header lines with their line ends)
// a transfer reads; past them the transfer stops and fails.
inline constexpr std::int64_t max_header_size = 64 << 10;

inline constexpr std::uint16_t st_http_ready = 112;    // the next queued operation may run
inline constexpr std::uint16_t st_http_sending = 113;  // a request is being sent
inline constexpr std::uint16_t st_http_header = 116;   // status line and headers are read
inline constexpr std::uint16_t st_http_body = 117;     // the body is read

// Writes the characters of text at the stream's position, nothing else.
void WriteString(platform::TMemoryStream& stream, const std::string& text);

class T_HTTP;

class tl_http : public tl_tcpip {
 public:
  tl_http(T_HTTP* AOwner, std::uint8_t AKind, std::string AText,
          std::unique_ptr<platform::TMemoryStream> AData);
  void Execute() override;

  T_HTTP* Owner;  // not owned
  std::uint8_t Kind;
  std::string Text;                              // the request line
  std::unique_ptr<platform::TMemoryStream> Data;  // the header block, until the request runs
};

// Usage (synchronous): set URL (and Proxy, NoCache, ... as needed), call
// Get; when it returns the connection is closed, Stream holds the body at
// position 0 and the response record (StatusCode ... Redirected) is filled.
class T_HTTP : public T_TcpIp {
 public:
  explicit T_HTTP(platform::TComponent* AOwner);
  ~T_HTTP() override;

  void WndProc(platform::TMessage& Message) override;
  // Fetches URL, directly or through Proxy. After an exception has left it,
  // the component is idle again: socket closed, queue empty.
  void Get() override;
  // The inherited connect, then st_http_ready whether or not it worked.
  void Connect() override;
  void ProcessNext() override;
  // Host and port from ConnectTarget, then the inherited resolve and connect.
  void OpenConnection() override;
  void CloseConnection() override;
  // Counts the bytes of the current response and stops a header past its
  // bound.
  void ReceiveBuf(std::int32_t socket, void* buffer, std::int32_t& length,
                  std::int32_t size) override;

  void BuildRequest(TRequestKind kind);
  void QueueAction(std::uint8_t kind, std::string text,
                   std::unique_ptr<platform::TMemoryStream> data);
  void SendRequest();
  // True when all of RequestStream has been handed over.
  bool SendRequestStream();
  void ReceiveStep();
  void ParseHeaderLine(const std::string& line);

  // Replaces AdditionalHeader's lines by copies of the given ones.
  void SetAdditionalHeader(const platform::TStringList& lines);

  // Published properties.
  std::string URL;
  std::string Accept;   // empty sends "Accept: */*"
  std::string Proxy;    // host, host:port or a URL; empty for a direct connection
  std::string Sender;   // From header
  std::string Agent;    // User-Agent header
  std::string Reference;  // Referer header
  bool NoCache = false;   // "Pragma: no-cache"
  std::string ContentTypePost;
  platform::TStringList AdditionalHeader;  // sent verbatim after the built-in headers
  platform::TNotifyEvent OnTransferComplete;
  platform::TNotifyEvent OnTransferError;
  bool SendFullURL = true;
  bool FollowRedirects = false;  // no effect: a redirection is never followed
  TDataTransferProc OnDataReceived;
  TDataTransferProc OnDataSent;

  std::string HttpVersion;
  std::unique_ptr<platform::TMemoryStream> RequestStream;
  std::string ConnectTarget;
  std::string RequestLine;
  std::uint16_t DefaultPort = 0;
  std::string RequestTarget;
  std::string Authorization;
  std::string ProxyAuthorization;

  // The response record of the last transfer.
  std::int32_t StatusCode = 0;
  std::string StatusText;
  std::int32_t ContentLength = 0;
  std::string ContentType;
  platform::TStringList AuthenticateList;
  platform::TStringList ReplyHeaders;
  bool Redirected = false;
  bool StatusReceived = false;     // a status line was recognised in this response
  std::int64_t ResponseBytes = 0;  // bytes of this response, header and body
  // How the last transfer ended; set before its end-of-transfer event.
  THttpOutcome Outcome = ho_complete;
  bool TransferFailed() const { return Outcome != ho_complete; }

 private:
  void EndTransfer();
  THttpOutcome TransferOutcome() const;
  // Back to idle after an exception: queue emptied, socket closed.
  void Recover();
  bool connection_made_ = false;  // the last Connect opened a socket
  bool header_cut_ = false;       // the connection ended inside the header
  bool too_large_ = false;        // the body went past max_body_size
  bool header_too_long_ = false;  // the header went past max_header_size
};

}  // namespace tcpip
