// One open WebSocket connection and the thread that reads it.
//
// The easy handle is never used by two threads at once: every libcurl call
// on it is made under handleLock_, held only for that call. Whole frames go
// out under writeLock_, so frames of different senders never interleave,
// while the receive thread keeps reading between the pieces of a large
// frame. The receive thread waits on the socket (WSAEventSelect) and on a
// wake-up event, never inside libcurl.
//
// Callbacks run only on the receive thread, in arrival order: connect first,
// close last and exactly once; nothing once the owner has let go (Abandon).
#pragma once
#include <curl/curl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ClientSocket.h"
#include "component_log.h"
#include "curl_common.h"
#include "ws_protocol.h"

namespace clientsocket {

struct Handlers {
  SocketUtils::ClientSocket::ConnectHandler onConnect = nullptr;
  SocketUtils::ClientSocket::TextMessageHandler onText = nullptr;
  SocketUtils::ClientSocket::BinaryMessageHandler onBinary = nullptr;
  SocketUtils::ClientSocket::ErrorHandler onError = nullptr;
  SocketUtils::ClientSocket::CloseHandler onClose = nullptr;
  unsigned long context = 0;
};

// The socket object the callbacks belong to.
namespace detail {
inline void close_wsa_event(WSAEVENT event) { ::WSACloseEvent(event); }
}  // namespace detail
// WSA_INVALID_EVENT is null, as for the family's plain handles.
using unique_wsa_event = hk::unique_any<WSAEVENT, detail::close_wsa_event>;

class SessionOwner {
 public:
  virtual Handlers CurrentHandlers() = 0;

 protected:
  ~SessionOwner() = default;
};

// A connection whose opening handshake has succeeded.
struct EstablishedConnection {
  unique_curl curl;
  std::unique_ptr<char[]> errorBuffer;  // CURLOPT_ERRORBUFFER of curl
  curl_socket_t socket = CURL_SOCKET_BAD;
  bool secure = false;
  std::string leftover;  // bytes that came after the server's handshake answer
};

class Session {
 public:
  Session(EstablishedConnection connection, std::shared_ptr<ComponentLog> log, std::string name, SessionOwner* owner);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Makes the receive thread, suspended; it holds its own reference to the
  // session. Resume lets it run.
  static bool Start(const std::shared_ptr<Session>& session);
  void Resume() { ::ResumeThread(thread_.get()); }

  // One whole message or control frame; payload bytes sent, or -1.
  int Send(uint8_t opcode, const void* data, size_t size);
  // Graceful: sends a close frame with closePayload and waits (on the
  // receive thread) for the server's answer; otherwise drops the connection.
  void Close(bool graceful, const std::string& closePayload);
  // The owner is going away: no callback from now on (one running on
  // another thread is waited for), and the connection is closed.
  void Abandon();
  // True once the close callback has been delivered (or skipped), or when
  // the thread is gone: at process exit Windows ends it without a word.
  bool WaitDone(DWORD milliseconds) const;

  bool IsOpen() const { return open_; }
  bool OnThread() const { return ::GetCurrentThreadId() == threadId_; }

 private:
  struct Ending {
    bool silent = false;
    int code = kCloseAbnormal;
    std::string reason;
    bool error = false;
    int errorCode = 0;
    std::string errorText;
  };
  enum class ReadResult { kData, kNothing, kEof, kError };

  static DWORD WINAPI ThreadMain(void* arg);
  void Run();
  ReadResult ReadAvailable(char* chunk, size_t chunkSize, Ending* ending);
  // Handles one event; true when the connection ends with it.
  bool Handle(MessageReader::Event& event, Ending* ending);
  void Finish(const Ending& ending);
  void FinishAfterFailure();
  void WaitForActivity(DWORD milliseconds);

  // With writeLock_ held.
  bool WriteFrame(uint8_t opcode, const uint8_t* data, size_t size);
  bool WriteRaw(const uint8_t* data, size_t size);
  void FlushPongLocked();
  void TryFlushPong();
  bool SendClose(const std::string& payload, DWORD lockWaitMs);
  void NoteSendFailure(int code, const std::string& text);

  void DetachOwner();
  template <typename Call>
  void Deliver(const char* what, Call call);

  std::shared_ptr<ComponentLog> log_;
  const std::string name_;  // "#<n>", ahead of every log line

  std::mutex handleLock_;
  unique_curl curl_;
  std::unique_ptr<char[]> errorBuffer_;
  const curl_socket_t socket_;
  const bool secure_;

  std::timed_mutex writeLock_;
  std::unique_ptr<uint8_t[]> scratch_;  // masked bytes on their way out; under writeLock_

  std::mutex pongLock_;
  std::optional<std::string> pendingPong_;  // only the latest ping needs an answer

  std::mutex failureLock_;
  std::optional<std::pair<int, std::string>> sendFailure_;

  // The connection's state, one flag per fact. Each flag only ever changes
  // one way (false to true, or once), so a reader never sees it go back:
  //
  //   flag             written by                        read by
  //   open_            receive thread (Finish: false)    Close, senders
  //   finished_        receive thread (Finish)           FinishAfterFailure
  //   stopping_        receive thread (Finish)           senders, SendClose
  //   abandoned_       owner's thread (Abandon)          receive thread
  //   abortRequested_  Close, a failed send, the loop    receive thread
  //   closeSent_       whoever sends the close frame     everyone; exchange() picks the one sender
  //   localCloseCode_  Close (before closeSent_)         receive thread, after closeSent_
  //   closeDeadline_   Close (before closeSent_)         receive thread, after closeSent_
  //
  // The two values written before closeSent_ are read only after it is seen
  // set, so the atomic store of closeSent_ publishes them.
  std::atomic<bool> open_{true};
  std::atomic<bool> finished_{false};
  std::atomic<bool> stopping_{false};  // senders give up; set when the connection ends
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> abortRequested_{false};
  std::atomic<bool> closeSent_{false};
  std::atomic<int> localCloseCode_{kCloseNormal};
  std::atomic<ULONGLONG> closeDeadline_{0};

  // Held while a callback runs; owner_ is null once the owner let go.
  std::timed_mutex gate_;
  SessionOwner* owner_;

  MessageReader reader_;  // receive thread only
  unique_wsa_event networkEvent_;
  hk::unique_handle wake_;
  hk::unique_handle done_;
  hk::unique_handle thread_;
  DWORD threadId_ = 0;
};

}  // namespace clientsocket
