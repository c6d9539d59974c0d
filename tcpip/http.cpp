// The HTTP/1.0 client: building and sending the request, reading the status
// line and headers a byte at a time and the body in buffer-sized chunks.
#include "tcpip/http.hpp"

#include <algorithm>

#include "platform/runtime.hpp"
#include "tcpip/url.hpp"

// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

namespace tcpip {
namespace {

// The characters from index start on (at most count), empty past the end.
std::string part(const std::string& text, std::size_t start, std::size_t count = std::string::npos) {
  if (start >= text.size()) return "";
  return text.substr(start, count);
}

bool is_status_line(const std::string& line) {
  // An HTTP/1.0 request is commonly answered with an HTTP/1.1 status line.
  return line.compare(0, 8, "HTTP/1.0") == 0 || line.compare(0, 8, "HTTP/1.1") == 0;
}

// A port given as text. Beyond 16 bits it would connect somewhere the user
// never named, so it fails like a port that is no number.
std::uint16_t port_number(const std::string& text) {
  const std::int32_t port = platform::str_to_int(text);
  if (port < 0 || port > 65535)
    throw platform::EConvertError("'" + text + "' is not a valid port number");
  return static_cast<std::uint16_t>(port);
}

}  // namespace

void WriteString(platform::TMemoryStream& stream, const std::string& text) {
  stream.Write(text.data(), text.size());
}

tl_http::tl_http(T_HTTP* AOwner, std::uint8_t AKind, std::string AText,
                 std::unique_ptr<platform::TMemoryStream> AData)
    : Owner(AOwner), Kind(AKind), Text(std::move(AText)), Data(std::move(AData)) {}

void tl_http::Execute() {
  if (!Owner) return;
  switch (Kind) {
    case ha_request:
      Owner->State = st_http_sending;
      Owner->RequestStream = std::move(Data);
      Owner->RequestLine = Text;
      Owner->SendRequest();
      if (Owner->Async) return;
      // The whole wait of a synchronous Get. It also stops should a handler
      // move the state elsewhere, where ReceiveStep would do nothing forever.
      while (Owner->State == st_http_header || Owner->State == st_http_body) Owner->ReceiveStep();
      return;
    case ha_disconnect:
      Owner->Disconnect();
      return;
    default:
      return;  // a byte of any other value does nothing
  }
}

T_HTTP::T_HTTP(platform::TComponent* AOwner)
    : T_TcpIp(AOwner),
      ContentTypePost("application/x-www-form-urlencoded"),
      SendFullURL(true),
      HttpVersion("1.0") {}

T_HTTP::~T_HTTP() = default;

void T_HTTP::SetAdditionalHeader(const platform::TStringList& lines) {
  AdditionalHeader.Assign(lines);
}

void T_HTTP::WndProc(platform::TMessage& Message) {
  if (Message.Msg != uwm_socketevent) {
    T_TcpIp::WndProc(Message);
    return;
  }
  switch (platform::LParamLo(Message)) {
    case platform::FD_READ:
      ReceiveStep();
      return;
    case platform::FD_WRITE:
      SendRequestStream();
      return;
    case ev_next_action:
      ProcessNext();
      return;
    default:
      return;
  }
}

void T_HTTP::Get() {
  Outcome = ho_no_connection;  // until a transfer ends
  try {
    if (!Proxy.empty()) {
      ConnectTarget = Proxy;
      DefaultPort = 8080;
    } else {
      ConnectTarget = URL;
      DefaultPort = 80;
    }
    OpenConnection();
    BuildRequest(rk_get);
    CloseConnection();
  } catch (const platform::EConvertError&) {
    // Raised while the answer's header was read: the server's fault, which
    // the caller can tell from a port the user gave that is no number.
    if (State == st_http_header) Outcome = ho_malformed;
    Recover();
    throw;
  } catch (...) {
    Recover();
    throw;
  }
}

void T_HTTP::Recover() {
  DropActions();
  if (Socket != -1) Disconnect();
  State = st_idle;
  PendingText.clear();
  LookupBuffer.reset();
}

void T_HTTP::OpenConnection() {
  std::string protocol, user, password, host, port, path;
  ParseURL(ConnectTarget, protocol, user, password, host, port, path);
  Host = host;
  Port = port.empty() ? DefaultPort : port_number(port);
  T_TcpIp::OpenConnection();
}

void T_HTTP::Connect() {
  // Bytes an earlier connection could not take never go out on a new one.
  PendingText.clear();
  T_TcpIp::Connect();
  connection_made_ = Socket != -1;
  State = st_http_ready;
  Closed = false;
}

void T_HTTP::CloseConnection() { QueueAction(ha_disconnect, "", nullptr); }

void T_HTTP::ProcessNext() {
  if (State > st_http_ready) return;  // a request is under way
  if (State < 15) {
    T_TcpIp::ProcessNext();
    return;
  }
  if (Actions.Count() == 0) return;
  RunFirstAction();
}

void T_HTTP::ReceiveBuf(std::int32_t socket, void* buffer, std::int32_t& length,
                        std::int32_t size) {
  T_TcpIp::ReceiveBuf(socket, buffer, length, size);
  if (length <= 0) return;
  ResponseBytes += length;
  if (State != st_http_header || ResponseBytes <= max_header_size) return;
  // An endless header, or one line without end, would hold the program and
  // grow its memory for as long as the server likes: the byte past the bound
  // ends the header, and with it the transfer.
  header_too_long_ = true;
  Closed = true;
  length = 0;
}

void T_HTTP::BuildRequest(TRequestKind kind) {
  std::string verb;
  switch (kind) {
    case rk_post:
      verb = "POST";
      break;
    case rk_head:
      verb = "HEAD";
      break;
    case rk_get:
      verb = "GET";
      break;
  }
  auto block = std::make_unique<platform::TMemoryStream>();
  std::string protocol, user, password, host, port, path;
  ParseURL(URL, protocol, user, password, host, port, path);
  RequestTarget = path;
  if (SendFullURL || !Proxy.empty()) {
    RequestTarget = URL;
  } else if (RequestTarget.empty()) {
    RequestTarget = "/";
  }
  std::string request_line = verb + " " + RequestTarget + " HTTP/" + HttpVersion + "\r\n";

  auto header = [&](const std::string& line) {
    WriteString(*block, line);
    WriteString(*block, "\r\n");
  };
  if (!host.empty()) header("Host: " + host);
  if (!Sender.empty()) header("From: " + Sender);
  if (!Reference.empty()) header("Referer: " + Reference);
  if (!Agent.empty()) header("User-Agent: " + Agent);
  if (NoCache) header("Pragma: no-cache");
  header(Accept.empty() ? std::string("Accept: */*") : "Accept: " + Accept);
  if (kind == rk_post) {
    header("Content-Length: " + std::to_string(Stream.Size()));
    if (!ContentTypePost.empty()) header("Content-Type: " + ContentTypePost);
  }
  if (!Authorization.empty()) header("Authorization: " + Authorization);
  if (!ProxyAuthorization.empty()) header("Proxy-authorization: " + ProxyAuthorization);
  for (int i = 0; i < AdditionalHeader.Count(); ++i) header(AdditionalHeader[i]);
  WriteString(*block, "\r\n");

  QueueAction(ha_request, std::move(request_line), std::move(block));
}

void T_HTTP::QueueAction(std::uint8_t kind, std::string text,
                         std::unique_ptr<platform::TMemoryStream> data) {
  if (data) data->SetPosition(0);
  QueueOperation(new tl_http(this, kind, std::move(text), std::move(data)));
}

void T_HTTP::SendRequest() {
  ReplyHeaders.Clear();
  AuthenticateList.Clear();
  ContentType.clear();
  ContentLength = 0;
  Redirected = false;
  StatusReceived = false;
  ResponseBytes = 0;
  header_cut_ = false;
  too_large_ = false;
  header_too_long_ = false;
  if (RequestStream) RequestStream->SetPosition(0);
  // A send that fails leaves the socket failed, and so the transfer.
  SendString(Socket, RequestLine);
  SendRequestStream();
  State = st_http_header;
}

bool T_HTTP::SendRequestStream() {
  if (!RequestStream) return true;
  for (;;) {
    const auto chunk = static_cast<std::int32_t>(
        RequestStream->Read(Buffer.get(), static_cast<std::size_t>(buffer_size)));
    const std::int32_t sent = SendBuf(Socket, Buffer.get(), chunk);
    if (OnDataSent) OnDataSent(this, sent);
    if (sent < chunk) {
      RequestStream->Seek(-static_cast<std::int64_t>(chunk - std::max(sent, 0)), platform::soCurrent);
      return false;
    }
    if (chunk == 0) return true;
  }
}

void T_HTTP::ReceiveStep() {
  if (State == st_http_header) {
    while (State == st_http_header) {
      std::string line;
      ReadLine(Socket, line);
      if (!line.empty()) Trace(tt_response, line);
      ParseHeaderLine(line);
      if (line.empty() && header_too_long_) {
        EndTransfer();
      } else if (line.empty()) {
        // The end of the header, or of the connection while a line was read.
        header_cut_ = Closed;
        State = st_http_body;
        Stream.Clear();
        // An announced body gets its room at once, so it is never copied
        // while it grows.
        if (ContentLength > 0)
          Stream.Reserve(std::min(static_cast<std::size_t>(ContentLength), max_body_size));
      }
    }
  } else if (State == st_http_body) {
    std::int32_t length = 0;
    ReceiveBuf(Socket, Buffer.get(), length, buffer_size);
    if (length == 0 && Async) return;
    if (length > 0 && Stream.Size() + static_cast<std::size_t>(length) > max_body_size) {
      // Past the bound the transfer stops: memory stays near the largest
      // body allowed, whatever the server sends.
      too_large_ = true;
      Closed = true;
      length = 0;
    }
    if (length > 0 && OnDataReceived) OnDataReceived(this, length);
    if (length > 0) {
      // Growth never reserves beyond the bound.
      const std::size_t needed = Stream.Size() + static_cast<std::size_t>(length);
      if (needed > Stream.Capacity())
        Stream.Reserve(std::min(max_body_size, std::max(needed, 2 * Stream.Capacity())));
      AppendToStream(Buffer.get(), length);
    }
    if (Eof(Socket)) EndTransfer();
  }
  if (State == st_http_ready) QueueStep();
}

THttpOutcome T_HTTP::TransferOutcome() const {
  if (!connection_made_) return ho_no_connection;
  if (too_large_) return ho_too_large;
  if (header_too_long_) return ho_header_too_long;
  if (Failed) return TimedOut ? ho_timed_out : ho_failed;
  if (!StatusReceived) return ho_no_status;
  if (header_cut_) return ho_cut_short;
  if (ContentLength > 0 && Stream.Size() < static_cast<std::size_t>(ContentLength))
    return ho_cut_short;
  return ho_complete;
}

void T_HTTP::EndTransfer() {
  State = st_http_ready;
  Stream.SetPosition(0);
  // A transfer that did not end in order has failed, whatever an earlier
  // status line said.
  Outcome = TransferOutcome();
  if (TransferFailed() || StatusCode >= 300) {
    if (OnTransferError) OnTransferError(this);
    return;
  }
  if (OnTransferComplete) OnTransferComplete(this);
}

void T_HTTP::ParseHeaderLine(const std::string& line) {
  if (is_status_line(line)) {
    StatusCode = platform::str_to_int(part(line, 9, 3));
    StatusText = part(line, 13);
    StatusReceived = true;
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  ReplyHeaders.Add(line);
  const std::string name = LowerLetters(line.substr(0, colon));
  // Exactly one character after the colon is skipped, whatever it is.
  const std::string value = part(line, colon + 2);
  if (name == "location") {
    Redirected = true;
    if (!Proxy.empty()) {
      RequestTarget = value;
      return;
    }
    std::string protocol, user, password, host, port, path;
    ParseURL(value, protocol, user, password, host, port, path);
    Host = host;
    RequestTarget = path;
    if (!port.empty()) Port = port_number(port);
    return;
  }
  if (name == "content-length") {
    ContentLength = platform::str_to_int(value);
    return;
  }
  if (name == "content-type") {
    ContentType = value;
    return;
  }
  if (name == "www-authenticate") AuthenticateList.Add(value);
}

}  // namespace tcpip
