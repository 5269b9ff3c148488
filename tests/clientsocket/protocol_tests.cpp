// The WebSocket wire format of ClientSocket.dll byte by byte: the length
// encodings, fragments and control frames, and what a server may send that
// the loopback servers of the end-to-end tests never do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "ws_protocol.h"

namespace clientsocket {
namespace {

using Kind = MessageReader::Kind;
using Read = std::tuple<Kind, std::string, int>;  // kind, payload, code

// A frame header as a server sends it (unmasked), and a whole frame.
std::string Header(uint8_t opcode, uint64_t n, bool fin = true, uint8_t extraBits = 0) {
  std::string out(1, static_cast<char>((fin ? 0x80 : 0) | extraBits | opcode));
  const int bytes = n <= 125 ? 0 : n <= 0xFFFF ? 2 : 8;
  out += static_cast<char>(bytes == 0 ? n : bytes == 2 ? 126 : 127);
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out += static_cast<char>(n >> shift);
  return out;
}
std::string Frame(uint8_t opcode, const std::string& payload, bool fin = true, uint8_t extraBits = 0) {
  return Header(opcode, payload.size(), fin, extraBits) + payload;
}

std::vector<Read> ReadAll(size_t maxMessage, const std::string& bytes, size_t piece) {
  MessageReader reader(maxMessage);
  std::vector<Read> events;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    reader.Append(bytes.data() + at, std::min(piece, bytes.size() - at));
    MessageReader::Event event;
    while (reader.Next(&event)) events.emplace_back(event.kind, event.payload, event.code);
  }
  return events;
}

TEST(MessageReader, WholeMessagesWhateverTheReadSizesFragmentsAndControlFrames) {
  // Around the 7-bit, 16-bit and 64-bit length encodings, text and binary.
  std::string stream;
  std::vector<Read> expected;
  for (const size_t size : {size_t{0}, size_t{125}, size_t{126}, size_t{65535}, size_t{65536}}) {
    const std::string payload(size, static_cast<char>('a' + size % 26));
    stream += Frame(size % 2 ? kOpBinary : kOpText, payload);
    expected.emplace_back(size % 2 ? Kind::kBinary : Kind::kText, payload, 0);
  }
  stream += Frame(kOpText, "frag", false) + Frame(kOpPing, "p1") + Frame(kOpContinuation, "mented", false) +
            Frame(kOpContinuation, "") + Frame(kOpBinary, "a", false) + Frame(kOpContinuation, "b") +
            Frame(kOpClose, std::string("\x0F\xA1") + "bye") + Frame(kOpText, "after the close");
  expected.insert(
      expected.end(),
      {{Kind::kPing, "p1", 0}, {Kind::kText, "fragmented", 0}, {Kind::kBinary, "ab", 0}, {Kind::kClose, "bye", 4001}});
  for (size_t piece : {size_t{1}, size_t{3}, size_t{1000}, stream.size()})
    EXPECT_TRUE(ReadAll(1 << 20, stream, piece) == expected) << "piece " << piece;
  EXPECT_EQ(ReadAll(1 << 20, Frame(kOpClose, ""), 64), std::vector<Read>{Read(Kind::kClose, "", kCloseNoStatus)});
}

TEST(MessageReader, ProtocolErrorsEndTheStreamWithTheirCloseCode) {
  std::string masked = Frame(kOpText, "abcd");
  masked[1] = static_cast<char>(masked[1] | 0x80);
  masked.insert(2, "\0\0\0\0", 4);
  const struct {
    const char* name;
    std::string bytes;
    int code;
  } cases[] = {
      {"masked frame", masked, kCloseProtocolError},
      {"reserved bit", Frame(kOpText, "x", true, 0x40), kCloseProtocolError},
      {"unknown data opcode", Frame(0x3, "x"), kCloseProtocolError},
      {"unknown control opcode", Frame(0xB, "x"), kCloseProtocolError},
      {"fragmented ping", Frame(kOpPing, "x", false), kCloseProtocolError},
      {"long ping", Frame(kOpPing, std::string(126, 'p')), kCloseProtocolError},
      {"continuation first", Frame(kOpContinuation, "x"), kCloseProtocolError},
      {"message inside a message", Frame(kOpText, "a", false) + Frame(kOpText, "b"), kCloseProtocolError},
      {"one-byte close", Frame(kOpClose, "x"), kCloseProtocolError},
      {"too big", Frame(kOpBinary, std::string(1001, 'z')), kCloseMessageTooBig},
      {"too big in pieces",
       Frame(kOpText, std::string(600, 'a'), false) + Frame(kOpContinuation, std::string(401, 'b')),
       kCloseMessageTooBig},
      {"too big before the payload arrives", Header(kOpBinary, 1ull << 40), kCloseMessageTooBig},
  };
  for (const auto& c : cases) {
    const auto events = ReadAll(1000, c.bytes + Frame(kOpText, "after"), 4096);
    ASSERT_EQ(events.size(), 1u) << c.name;
    EXPECT_EQ(std::get<0>(events[0]), Kind::kError) << c.name;
    EXPECT_EQ(std::get<2>(events[0]), c.code) << c.name;
    EXPECT_FALSE(std::get<1>(events[0]).empty()) << c.name;
  }
  // The limit itself is allowed.
  const std::string most(1000, 'm');
  EXPECT_EQ(ReadAll(1000, Frame(kOpText, most), 4096), std::vector<Read>{Read(Kind::kText, most, 0)});
}

TEST(FrameWriter, HeaderLengthEncodingsAndMask) {
  const uint8_t mask[4] = {0x12, 0x34, 0x56, 0x78};
  for (const uint64_t size : {0ull, 125ull, 126ull, 65535ull, 65536ull, (1ull << 32) + 1}) {
    uint8_t header[kMaxFrameHeader];
    const size_t written = EncodeFrameHeader(header, kOpText, true, size, mask);
    std::string expected = Header(kOpText, size) + "\x12\x34\x56\x78";
    expected[1] = static_cast<char>(expected[1] | 0x80);  // masked
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header), written), expected) << size;
  }
  uint8_t header[kMaxFrameHeader];
  EXPECT_EQ(EncodeFrameHeader(header, kOpBinary, false, 3, mask), 6u);
  EXPECT_EQ(header[0], 0x02);  // no FIN

  // Masked in two pieces (at any offset) as in one.
  std::vector<uint8_t> src(1001), whole(src.size()), pieces(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 31);
  MaskPayload(whole.data(), src.data(), src.size(), mask, 0);
  MaskPayload(pieces.data(), src.data(), 333, mask, 0);
  MaskPayload(pieces.data() + 333, src.data() + 333, src.size() - 333, mask, 333);
  EXPECT_EQ(whole, pieces);
  for (size_t i = 0; i < src.size(); ++i) ASSERT_EQ(whole[i], src[i] ^ mask[i % 4]) << i;
}

TEST(Handshake, RequestLineHostAndKey) {
  EXPECT_EQ(RequestTarget("tools/HK_NATIVE?clientId=a b&clientName=Caf\xC3\xA9#1"),
            "/tools/HK_NATIVE?clientId=a%20b&clientName=Caf%C3%A9%231");
  EXPECT_EQ(RequestTarget("/already/there?x=%41"), "/already/there?x=%41");
  EXPECT_EQ(RequestTarget(""), "/");

  const std::string key = NewHandshakeKey();
  EXPECT_EQ(key.size(), 24u);
  EXPECT_NE(key, NewHandshakeKey());
  const std::string plain = BuildHandshakeRequest("example.net", 80, false, "p?q=1", key);
  EXPECT_EQ(plain.rfind("GET /p?q=1 HTTP/1.1\r\nHost: example.net\r\n", 0), 0u) << plain;
  EXPECT_NE(plain.find("Sec-WebSocket-Key: " + key + "\r\n"), std::string::npos);
  EXPECT_NE(plain.find("Sec-WebSocket-Version: 13\r\n"), std::string::npos);
  EXPECT_EQ(plain.substr(plain.size() - 4), "\r\n\r\n");
  EXPECT_NE(BuildHandshakeRequest("example.net", 443, true, "p", key).find("Host: example.net\r\n"), std::string::npos);
  EXPECT_NE(BuildHandshakeRequest("::1", 8443, true, "p", key).find("Host: [::1]:8443\r\n"), std::string::npos);
}

TEST(Handshake, AnswerChecks) {
  // The example of RFC 6455, section 1.3.
  const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
  EXPECT_EQ(ExpectedAccept(key), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  const std::string accept = "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
  int status = 0;
  std::string why;
  EXPECT_TRUE(CheckHandshakeResponse(
      "HTTP/1.1 101 Switching Protocols\r\nupgrade: WebSocket\r\nConnection: keep-alive, Upgrade\r\n" + accept, key,
      &status, &why))
      << why;
  EXPECT_EQ(status, 101);

  const std::string upgrade = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n";
  const struct {
    std::string answer;
    std::string why;
  } bad[] = {
      {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", "server answered HTTP/1.1 403 Forbidden"},
      {upgrade + "Sec-WebSocket-Accept: AAAAAAAAAAAAAAAAAAAAAAAAAAA=\r\n\r\n", "wrong or missing Sec-WebSocket-Accept"},
      {"HTTP/1.1 101 Switching Protocols\r\n" + accept, "101 answer without the websocket upgrade headers"},
      {upgrade + "Sec-WebSocket-Extensions: permessage-deflate\r\n" + accept,
       "server chose an extension that was not offered: permessage-deflate"},
      {"SSH-2.0-OpenSSH_9.2\r\n\r\n", "not an HTTP answer"},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(CheckHandshakeResponse(b.answer, key, &status, &why)) << b.answer;
    EXPECT_EQ(why, b.why);
  }
}

TEST(Protocol, ClosePayloadAndBase64Padding) {
  EXPECT_EQ(ClosePayload(4001, "bye"), std::string("\x0F\xA1") + "bye");
  EXPECT_EQ(ClosePayload(1000, std::string(300, 'r')).size(), kMaxControlPayload);
  EXPECT_EQ(Base64("f", 1) + Base64("fo", 2) + Base64("foo", 3), "Zg==Zm8=Zm9v");
}

}  // namespace
}  // namespace clientsocket
