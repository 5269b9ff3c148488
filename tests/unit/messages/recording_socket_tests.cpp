#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/globals.h"
#include "support/recording_socket.h"

namespace {

using hk::test::RecordingSocket;

TEST(RecordingSocket, LastReleaseDeletesIt) {
  const size_t before = RecordingSocket::LiveCount();
  {
    RecordingSocket::Ptr socket = RecordingSocket::Create();
    EXPECT_EQ(RecordingSocket::LiveCount(), before + 1);
    RecordingSocket::Ptr copy = socket;
    EXPECT_EQ(socket->refs(), 2u);
    socket.reset();
    EXPECT_EQ(RecordingSocket::LiveCount(), before + 1);
  }
  EXPECT_EQ(RecordingSocket::LiveCount(), before);
}

TEST(RecordingSocket, SessionInstallsAndRestoresTheHandler) {
  const size_t before = RecordingSocket::LiveCount();
  EXPECT_FALSE(g_wsHandler.HasSocket());
  {
    hk::test::RecordingWsSession session("example.test", 8443, true, "tools/HK_NATIVE?clientId=1");
    EXPECT_TRUE(g_wsHandler.HasSocket());
    EXPECT_EQ(session.socket().request().host, "example.test");
    EXPECT_EQ(session.socket().request().port, 8443);
    EXPECT_EQ(session.socket().request().path, "tools/HK_NATIVE?clientId=1");
    EXPECT_TRUE(session.socket().has_handlers());
    g_wsHandler.PingServer("p");
    g_wsHandler.SendText("t", true);
    const auto frames = session.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, hk::test::RecordedFrame::Kind::kControl);
    EXPECT_EQ(frames[0].opcode, 9);
    EXPECT_EQ(session.texts(), std::vector<std::string>{"t"});
  }
  EXPECT_FALSE(g_wsHandler.HasSocket());
  EXPECT_EQ(RecordingSocket::LiveCount(), before) << "the socket is released with the session";
}

TEST(RecordingSocket, RecordsSendsFromManyThreads) {
  hk::test::RecordingWsSession session;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) g_wsHandler.SendTextLPSTR("frame");
    });
  for (auto& t : threads) t.join();
  EXPECT_TRUE(session.socket().WaitForTexts(200, std::chrono::milliseconds(0)));
  EXPECT_EQ(session.texts().size(), 200u);
}

}  // namespace
