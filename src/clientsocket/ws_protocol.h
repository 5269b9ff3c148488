// The WebSocket wire format (RFC 6455) as the client side speaks it: the
// opening handshake, frame headers, masking, and reassembly of the server's
// frames into whole messages. No I/O here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace clientsocket {

enum Opcode : uint8_t {
  kOpContinuation = 0x0,
  kOpText = 0x1,
  kOpBinary = 0x2,
  kOpClose = 0x8,
  kOpPing = 0x9,
  kOpPong = 0xA,
};

// Close codes this component sends or reports.
enum CloseCode : int {
  kCloseNormal = 1000,
  kCloseGoingAway = 1001,
  kCloseProtocolError = 1002,
  kCloseNoStatus = 1005,  // the server's close frame carried no code
  kCloseAbnormal = 1006,  // the connection ended without a close frame
  kCloseMessageTooBig = 1009,
  kCloseInternalError = 1011,
};

constexpr size_t kMaxControlPayload = 125;
// Largest frame header a client writes: 2 + 8 (length) + 4 (mask).
constexpr size_t kMaxFrameHeader = 14;

std::string Base64(const void* data, size_t size);
// Fills with bytes from the system's random number generator; false if it failed.
bool RandomBytes(void* out, size_t size);

// The path as it goes on the request line: a leading "/" added when missing,
// and bytes that may not appear in a request target (controls, blanks,
// non-ASCII, quotes, brackets, '#' ...) percent-encoded. '%' is kept, so a
// path that is already encoded passes through unchanged.
std::string RequestTarget(std::string_view path);
// Host as it appears in a URL or a Host header: IPv6 literals in brackets.
std::string UrlHost(std::string_view host);

std::string NewHandshakeKey();
// Sec-WebSocket-Accept the server must answer for key; empty if hashing failed.
std::string ExpectedAccept(std::string_view key);
std::string BuildHandshakeRequest(std::string_view host, int port, bool secure, std::string_view path,
                                  std::string_view key);

// Checks the server's answer up to and including its blank line. On failure
// returns false and says why (with the status line when there is one).
bool CheckHandshakeResponse(std::string_view response, std::string_view key, int* status, std::string* why);

// Writes a masked frame header for a payload of size bytes; returns its length.
size_t EncodeFrameHeader(uint8_t* out, uint8_t opcode, bool fin, uint64_t size, const uint8_t mask[4]);
// XORs src into dst with mask, starting at byte offset of the payload.
void MaskPayload(uint8_t* dst, const uint8_t* src, size_t size, const uint8_t mask[4], uint64_t offset);

// Close frame payload: the code (big-endian) and the reason, cut to fit.
std::string ClosePayload(int code, std::string_view reason);

// Turns the server's byte stream into whole messages and control frames.
class MessageReader {
 public:
  enum class Kind { kNone, kText, kBinary, kPing, kPong, kClose, kError };
  struct Event {
    Kind kind = Kind::kNone;
    std::string payload;  // message, ping/pong data, close reason, or error text
    int code = 0;         // close code (kClose) or the code to close with (kError)
  };

  explicit MessageReader(size_t maxMessage) : maxMessage_(maxMessage) {}

  void Append(const char* data, size_t size);
  // The next event; false when more bytes are needed. After a kError event
  // the stream cannot be read further.
  bool Next(Event* out);
  size_t buffered() const { return buffer_.size() - pos_; }

 private:
  bool Fail(Event* out, int code, std::string text);

  size_t maxMessage_;
  std::string buffer_;
  size_t pos_ = 0;
  bool failed_ = false;
  // A fragmented data message being put together.
  bool inMessage_ = false;
  uint8_t messageOpcode_ = 0;
  std::string message_;
};

}  // namespace clientsocket
