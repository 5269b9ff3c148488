#include "ws_protocol.h"

#include <windows.h>
// needs the types windows.h declares
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "infra/win_resource.h"

namespace clientsocket {

namespace {

void close_algorithm(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
void destroy_hash(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
using unique_algorithm = hk::unique_any<BCRYPT_ALG_HANDLE, close_algorithm>;
using unique_hash = hk::unique_any<BCRYPT_HASH_HANDLE, destroy_hash>;

bool Sha1(std::string_view text, uint8_t digest[20]) {
  unique_algorithm algorithm;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA1_ALGORITHM, nullptr, 0))) return false;
  unique_hash hash;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) return false;
  auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(text.data()));
  if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), bytes, static_cast<ULONG>(text.size()), 0))) return false;
  return BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest, 20, 0));
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// True when the comma-separated header value lists token.
bool HasToken(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const size_t comma = value.find(',');
    if (EqualsNoCase(Trim(value.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

bool NeedsEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  return std::strchr("\"<>\\^`{|}#", c) != nullptr;
}

}  // namespace

std::string Base64(const void* data, size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < size; i += 3) {
    const uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == size) {
    const uint32_t v = p[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == size) {
    const uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool RandomBytes(void* out, size_t size) {
  return BCRYPT_SUCCESS(
      ::BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

std::string RequestTarget(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size() + 1);
  if (path.empty() || path.front() != '/') out += '/';
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string UrlHost(std::string_view host) {
  if (host.find(':') != std::string_view::npos && host.front() != '[') return "[" + std::string(host) + "]";
  return std::string(host);
}

std::string NewHandshakeKey() {
  uint8_t nonce[16];
  if (!RandomBytes(nonce, sizeof nonce)) {
    // The key only has to differ between connections.
    const ULONGLONG salt = ::GetTickCount64() ^ (static_cast<ULONGLONG>(::GetCurrentThreadId()) << 32);
    for (size_t i = 0; i < sizeof nonce; ++i) nonce[i] = static_cast<uint8_t>(salt >> ((i % 8) * 8)) ^ (i * 37);
  }
  return Base64(nonce, sizeof nonce);
}

std::string ExpectedAccept(std::string_view key) {
  std::string text(key);
  text += "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
  uint8_t digest[20];
  if (!Sha1(text, digest)) return {};
  return Base64(digest, sizeof digest);
}

std::string BuildHandshakeRequest(std::string_view host, int port, bool secure, std::string_view path,
                                  std::string_view key) {
  std::string hostHeader = UrlHost(host);
  if (port != (secure ? 443 : 80)) hostHeader += ":" + std::to_string(port);
  std::string request;
  request += "GET " + RequestTarget(path) + " HTTP/1.1\r\n";
  request += "Host: " + hostHeader + "\r\n";
  request += "Upgrade: websocket\r\n";
  request += "Connection: Upgrade\r\n";
  request += "Sec-WebSocket-Key: " + std::string(key) + "\r\n";
  request += "Sec-WebSocket-Version: 13\r\n";
  request += "\r\n";
  return request;
}

bool CheckHandshakeResponse(std::string_view response, std::string_view key, int* status, std::string* why) {
  *status = 0;
  const size_t lineEnd = response.find("\r\n");
  const std::string_view statusLine = response.substr(0, lineEnd);
  // "HTTP/1.1 101 Switching Protocols"
  if (statusLine.size() < 12 || statusLine.substr(0, 5) != "HTTP/" || statusLine.find(' ') == std::string_view::npos) {
    *why = "not an HTTP answer";
    return false;
  }
  const std::string_view afterVersion = statusLine.substr(statusLine.find(' ') + 1);
  for (size_t i = 0; i < 3 && i < afterVersion.size(); ++i) {
    if (afterVersion[i] < '0' || afterVersion[i] > '9') {
      *why = "bad status line: " + std::string(statusLine);
      return false;
    }
    *status = *status * 10 + (afterVersion[i] - '0');
  }
  if (*status != 101) {
    *why = "server answered " + std::string(statusLine);
    return false;
  }
  bool upgrade = false, connection = false, accept = false;
  const std::string expected = ExpectedAccept(key);
  std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : response.substr(lineEnd + 2);
  while (!rest.empty()) {
    const size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Upgrade")) upgrade = upgrade || EqualsNoCase(value, "websocket");
    if (EqualsNoCase(name, "Connection")) connection = connection || HasToken(value, "upgrade");
    if (EqualsNoCase(name, "Sec-WebSocket-Accept")) accept = !expected.empty() && value == expected;
    // No extension or subprotocol was offered, so none may be chosen.
    if (EqualsNoCase(name, "Sec-WebSocket-Extensions") && !value.empty()) {
      *why = "server chose an extension that was not offered: " + std::string(value);
      return false;
    }
  }
  if (!upgrade || !connection) {
    *why = "101 answer without the websocket upgrade headers";
    return false;
  }
  if (!accept) {
    *why = "wrong or missing Sec-WebSocket-Accept";
    return false;
  }
  return true;
}

size_t EncodeFrameHeader(uint8_t* out, uint8_t opcode, bool fin, uint64_t size, const uint8_t mask[4]) {
  size_t n = 0;
  out[n++] = static_cast<uint8_t>((fin ? 0x80 : 0) | (opcode & 0x0F));
  if (size <= 125) {
    out[n++] = static_cast<uint8_t>(0x80 | size);
  } else if (size <= 0xFFFF) {
    out[n++] = 0x80 | 126;
    out[n++] = static_cast<uint8_t>(size >> 8);
    out[n++] = static_cast<uint8_t>(size);
  } else {
    out[n++] = 0x80 | 127;
    for (int shift = 56; shift >= 0; shift -= 8) out[n++] = static_cast<uint8_t>(size >> shift);
  }
  std::memcpy(out + n, mask, 4);
  return n + 4;
}

void MaskPayload(uint8_t* dst, const uint8_t* src, size_t size, const uint8_t mask[4], uint64_t offset) {
  size_t i = 0;
  // Bring the key into phase with the payload offset, then go 8 bytes at a time.
  uint8_t phased[8];
  for (size_t k = 0; k < 8; ++k) phased[k] = mask[(offset + k) & 3];
  uint64_t key;
  std::memcpy(&key, phased, 8);
  for (; i + 8 <= size; i += 8) {
    uint64_t v;
    std::memcpy(&v, src + i, 8);
    v ^= key;
    std::memcpy(dst + i, &v, 8);
  }
  for (; i < size; ++i) dst[i] = src[i] ^ phased[i & 7];
}

std::string ClosePayload(int code, std::string_view reason) {
  std::string out;
  out += static_cast<char>((code >> 8) & 0xFF);
  out += static_cast<char>(code & 0xFF);
  out.append(reason.substr(0, kMaxControlPayload - 2));
  return out;
}

void MessageReader::Append(const char* data, size_t size) {
  if (failed_ || size == 0) return;
  if (pos_ == buffer_.size()) {
    buffer_.clear();
    pos_ = 0;
    // A big message once must not pin its buffer for the life of the connection.
    if (buffer_.capacity() > (1u << 20)) buffer_.shrink_to_fit();
  }
  // Drop what was consumed once it is the larger part of the buffer.
  if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  buffer_.append(data, size);
}

bool MessageReader::Fail(Event* out, int code, std::string text) {
  failed_ = true;
  out->kind = Kind::kError;
  out->code = code;
  out->payload = std::move(text);
  return true;
}

bool MessageReader::Next(Event* out) {
  *out = Event{};
  while (!failed_) {
    const auto* p = reinterpret_cast<const uint8_t*>(buffer_.data()) + pos_;
    const size_t available = buffer_.size() - pos_;
    if (available < 2) return false;
    const bool fin = (p[0] & 0x80) != 0;
    const uint8_t rsv = p[0] & 0x70;
    const uint8_t opcode = p[0] & 0x0F;
    const bool masked = (p[1] & 0x80) != 0;
    uint64_t length = p[1] & 0x7F;
    size_t header = 2;
    if (length == 126) {
      if (available < 4) return false;
      length = (static_cast<uint64_t>(p[2]) << 8) | p[3];
      header = 4;
    } else if (length == 127) {
      if (available < 10) return false;
      length = 0;
      for (int i = 2; i < 10; ++i) length = (length << 8) | p[i];
      header = 10;
      if (length >> 63) return Fail(out, kCloseProtocolError, "frame length out of range");
    }
    if (rsv) return Fail(out, kCloseProtocolError, "reserved bits set without an extension");
    if (masked) return Fail(out, kCloseProtocolError, "masked frame from the server");
    const bool control = (opcode & 0x08) != 0;
    if (control) {
      if (opcode != kOpClose && opcode != kOpPing && opcode != kOpPong)
        return Fail(out, kCloseProtocolError, "unknown control opcode " + std::to_string(opcode));
      if (!fin || length > kMaxControlPayload) return Fail(out, kCloseProtocolError, "invalid control frame");
    } else if (opcode != kOpContinuation && opcode != kOpText && opcode != kOpBinary) {
      return Fail(out, kCloseProtocolError, "unknown data opcode " + std::to_string(opcode));
    }
    if (!control) {
      if (opcode == kOpContinuation && !inMessage_)
        return Fail(out, kCloseProtocolError, "continuation frame without a message");
      if (opcode != kOpContinuation && inMessage_)
        return Fail(out, kCloseProtocolError, "new message inside a fragmented one");
      const uint64_t total = (opcode == kOpContinuation ? message_.size() : 0) + length;
      if (total > maxMessage_) return Fail(out, kCloseMessageTooBig, "message larger than the limit");
    }
    if (available - header < length) return false;  // the frame has not arrived whole yet

    const char* payload = buffer_.data() + pos_ + header;
    const size_t size = static_cast<size_t>(length);
    pos_ += header + size;

    if (control) {
      if (opcode == kOpClose) {
        if (size == 1) return Fail(out, kCloseProtocolError, "close frame with a one-byte payload");
        out->kind = Kind::kClose;
        if (size >= 2) {
          out->code = (static_cast<uint8_t>(payload[0]) << 8) | static_cast<uint8_t>(payload[1]);
          out->payload.assign(payload + 2, size - 2);
        } else {
          out->code = kCloseNoStatus;
        }
        failed_ = true;  // nothing after a close frame is read
        return true;
      }
      out->kind = opcode == kOpPing ? Kind::kPing : Kind::kPong;
      out->payload.assign(payload, size);
      return true;
    }

    if (opcode != kOpContinuation) {
      messageOpcode_ = opcode;
      if (fin) {
        out->kind = opcode == kOpText ? Kind::kText : Kind::kBinary;
        out->payload.assign(payload, size);
        return true;
      }
      inMessage_ = true;
      message_.assign(payload, size);
      continue;
    }
    message_.append(payload, size);
    if (!fin) continue;
    inMessage_ = false;
    out->kind = messageOpcode_ == kOpText ? Kind::kText : Kind::kBinary;
    out->payload.swap(message_);
    message_.clear();
    message_.shrink_to_fit();
    return true;
  }
  return false;
}

}  // namespace clientsocket
