#include "ws_session.h"

#include <winsock2.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace clientsocket {

namespace {

constexpr size_t kReadChunk = 256 * 1024;  // as CURLOPT_BUFFERSIZE
constexpr int kReadsPerTurn = 16;          // then the loop turns, so the other flags are seen
constexpr size_t kScratchSize = 64 * 1024;
constexpr size_t kSendPiece = 16 * 1024;  // one TLS record per libcurl call
// Requests are small; a larger message is refused (1009) before it is copied
// and widened several times over in a 32-bit process.
constexpr size_t kMaxMessage = 1u << 20;
constexpr ULONGLONG kSendStallMs = 30000;  // no byte accepted for this long: the peer is gone
constexpr DWORD kCloseAnswerMs = 3000;     // how long a local close waits for the server's answer
constexpr DWORD kIdleWaitMs = 1000;

struct ThreadStart {
  std::shared_ptr<Session> session;
  HMODULE module;
};

// True when the socket can take more bytes within milliseconds (or failed,
// which the next send reports).
bool WaitWritable(curl_socket_t socket, long milliseconds) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return ::select(0, nullptr, &writable, &failed, &timeout) != 0;
}

void MakeMask(uint8_t mask[4]) {
  if (RandomBytes(mask, 4)) return;
  static std::atomic<uint32_t> fallback{0x9E3779B9u};
  const uint32_t v = fallback.fetch_add(0x6D2B79F5u) ^ static_cast<uint32_t>(::GetTickCount64());
  std::memcpy(mask, &v, 4);
}

std::string CurlErrorText(CURLcode code, const char* buffer) {
  if (buffer && buffer[0]) return buffer;
  return curl_easy_strerror(code);
}

}  // namespace

Session::Session(EstablishedConnection connection, std::shared_ptr<ComponentLog> log, std::string name,
                 SessionOwner* owner)
    : log_(std::move(log)),
      name_(std::move(name)),
      curl_(std::move(connection.curl)),
      errorBuffer_(std::move(connection.errorBuffer)),
      socket_(connection.socket),
      secure_(connection.secure),
      scratch_(new uint8_t[kScratchSize + kMaxFrameHeader]),
      owner_(owner),
      reader_(kMaxMessage) {
  reader_.Append(connection.leftover.data(), connection.leftover.size());
  networkEvent_.reset(::WSACreateEvent());
  wake_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  done_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

Session::~Session() {
  {
    std::lock_guard lock(handleLock_);
    curl_.reset();
  }
}

bool Session::Start(const std::shared_ptr<Session>& session) {
  if (!session->wake_ || !session->done_ || !session->networkEvent_) return false;
  // The thread keeps the DLL loaded until it has left the DLL's code.
  hk::unique_hmodule module;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Session::ThreadMain),
                       module.put());
  auto* start = new (std::nothrow) ThreadStart{session, module.get()};
  if (!start) return false;
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, &Session::ThreadMain, start, CREATE_SUSPENDED, &id);
  if (!thread) {
    delete start;
    return false;
  }
  // The thread owns the module reference from here on.
  static_cast<void>(module.release());
  session->threadId_ = id;
  session->thread_.reset(thread);
  return true;
}

DWORD WINAPI Session::ThreadMain(void* arg) {
  auto* start = static_cast<ThreadStart*>(arg);
  const HMODULE module = start->module;
  {
    std::shared_ptr<Session> session = std::move(start->session);
    delete start;
    try {
      session->Run();
    } catch (...) {
      // Out of memory, most likely: the connection still ends properly.
      try {
        session->FinishAfterFailure();
      } catch (...) {
      }
    }
  }  // the last reference may go here: the connection's resources are freed on this thread
  if (module) ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

template <typename Call>
void Session::Deliver(const char* what, Call call) {
  std::lock_guard lock(gate_);
  if (!owner_) return;
  const Handlers handlers = owner_->CurrentHandlers();
  try {
    call(handlers);
  } catch (...) {
    log_->Write(name_, " the ", what, " callback threw; ignored");
  }
  // The callback may have released the owner: nothing of it is touched here.
}

void Session::DetachOwner() {
  if (OnThread()) {
    // Called from a callback on this thread, which already holds gate_.
    owner_ = nullptr;
    return;
  }
  // A thread ended by process exit inside a callback never gives gate_ back.
  while (!gate_.try_lock_for(std::chrono::milliseconds(20))) {
    if (thread_ && ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0) {
      owner_ = nullptr;
      return;
    }
  }
  owner_ = nullptr;
  gate_.unlock();
}

void Session::Run() {
  Deliver("connect", [](const Handlers& h) {
    if (h.onConnect) h.onConnect(h.context);
  });

  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kReadChunk]);
  Ending ending;
  if (!chunk) {
    ending.reason = "out of memory";
    Finish(ending);
    return;
  }
  ::WSAEventSelect(socket_, networkEvent_.get(), FD_READ | FD_CLOSE);

  for (;;) {
    if (abandoned_) {
      ending.silent = true;
      ending.code = kCloseGoingAway;
      // Tell the server, without waiting for its answer.
      if (!closeSent_.exchange(true)) SendClose(ClosePayload(kCloseGoingAway, ""), 500);
      break;
    }
    if (abortRequested_) {
      std::lock_guard lock(failureLock_);
      if (sendFailure_) {
        ending.error = true;
        ending.errorCode = sendFailure_->first;
        ending.errorText = sendFailure_->second;
        ending.reason = "send failed: " + sendFailure_->second;
      } else {
        ending.reason = "closed locally without a close handshake";
      }
      break;
    }
    if (closeSent_ && ::GetTickCount64() > closeDeadline_) {
      ending.code = localCloseCode_;
      ending.reason = "the server did not answer the close";
      break;
    }

    ::WSAResetEvent(networkEvent_.get());
    const ReadResult read = ReadAvailable(chunk.get(), kReadChunk, &ending);
    bool ended = false;
    MessageReader::Event event;
    while (!ended && !abandoned_ && reader_.Next(&event)) ended = Handle(event, &ending);
    if (ended) break;
    if (abandoned_) continue;
    if (read == ReadResult::kEof) {
      if (closeSent_) {
        ending.code = localCloseCode_;
      } else {
        ending.reason = "connection closed by the server without a close frame";
      }
      break;
    }
    if (read == ReadResult::kError) break;
    TryFlushPong();
    if (read == ReadResult::kNothing) WaitForActivity(kIdleWaitMs);
  }
  Finish(ending);
}

Session::ReadResult Session::ReadAvailable(char* chunk, size_t chunkSize, Ending* ending) {
  bool any = false;
  for (int i = 0; i < kReadsPerTurn; ++i) {
    size_t received = 0;
    CURLcode rc;
    std::string error;
    {
      std::lock_guard lock(handleLock_);
      if (!curl_) return ReadResult::kEof;
      rc = curl_easy_recv(curl_.get(), chunk, chunkSize, &received);
      if (rc != CURLE_OK && rc != CURLE_AGAIN) error = CurlErrorText(rc, errorBuffer_.get());
    }
    if (rc == CURLE_AGAIN) return any ? ReadResult::kData : ReadResult::kNothing;
    if (rc != CURLE_OK) {
      ending->error = true;
      ending->errorCode = rc;
      ending->errorText = "receive failed: " + error;
      ending->reason = ending->errorText;
      return ReadResult::kError;
    }
    if (received == 0) return ReadResult::kEof;
    reader_.Append(chunk, received);
    any = true;
  }
  return ReadResult::kData;
}

bool Session::Handle(MessageReader::Event& event, Ending* ending) {
  using Kind = MessageReader::Kind;
  switch (event.kind) {
    case Kind::kText:
      Deliver("text", [&](const Handlers& h) {
        if (h.onText) h.onText(event.payload.data(), static_cast<int>(event.payload.size()), h.context);
      });
      return false;
    case Kind::kBinary:
      Deliver("binary", [&](const Handlers& h) {
        if (h.onBinary)
          h.onBinary(reinterpret_cast<unsigned char*>(event.payload.data()), static_cast<int>(event.payload.size()),
                     h.context);
      });
      return false;
    case Kind::kPing: {
      std::lock_guard lock(pongLock_);
      pendingPong_ = std::move(event.payload);
    }
      TryFlushPong();
      return false;
    case Kind::kPong:
    case Kind::kNone:
      return false;
    case Kind::kClose:
      if (!closeSent_.exchange(true)) {
        // The server began the close: answer with its code, then hang up.
        SendClose(event.code == kCloseNoStatus ? std::string() : ClosePayload(event.code, ""), 2000);
        ending->code = event.code;
        ending->reason = event.payload;
      } else {
        ending->code = localCloseCode_;
      }
      return true;
    case Kind::kError:
      log_->Write(name_, " protocol error: ", event.payload);
      if (!closeSent_.exchange(true)) SendClose(ClosePayload(event.code, event.payload), 1000);
      ending->code = event.code;
      ending->reason = event.payload;
      ending->error = true;
      ending->errorCode = event.code;
      ending->errorText = event.payload;
      return true;
  }
  return false;
}

void Session::FinishAfterFailure() {
  if (finished_) return;
  log_->Write(name_, " internal error in the receive thread");
  Ending ending;
  ending.code = kCloseInternalError;
  ending.reason = "internal error";
  ending.error = true;
  ending.errorCode = kCloseInternalError;
  ending.errorText = "internal error in the receive thread";
  if (!closeSent_.exchange(true)) SendClose(ClosePayload(kCloseInternalError, ""), 500);
  Finish(ending);
}

void Session::Finish(const Ending& ending) {
  finished_ = true;
  open_ = false;
  stopping_ = true;
  // Wait for a sender to leave libcurl; one stuck on a peer that reads
  // nothing is shaken loose by shutting the socket down.
  if (!writeLock_.try_lock_for(std::chrono::milliseconds(1000))) {
    ::shutdown(socket_, SD_BOTH);
    writeLock_.lock();
  }
  {
    std::lock_guard lock(handleLock_);
    curl_.reset();
  }
  writeLock_.unlock();

  std::string line = name_ + " closed: code " + std::to_string(ending.code);
  if (!ending.reason.empty()) line += " reason '" + ending.reason + "'";
  if (ending.silent) line += " (socket released)";
  log_->Write(line);

  if (!ending.silent) {
    if (ending.error) {
      std::string text = ending.errorText;
      Deliver("error", [&](const Handlers& h) {
        if (h.onError) h.onError(ending.errorCode, text.data(), h.context);
      });
    }
    std::string reason = ending.reason;
    Deliver("close", [&](const Handlers& h) {
      if (h.onClose) h.onClose(ending.code, reason.data(), h.context);
    });
  }
  ::SetEvent(done_.get());
}

void Session::WaitForActivity(DWORD milliseconds) {
  bool pong;
  {
    std::lock_guard lock(pongLock_);
    pong = pendingPong_.has_value();
  }
  // A pong still owed is retried soon; a sender holds the writer lock.
  if (pong) milliseconds = std::min<DWORD>(milliseconds, 20);
  if (closeSent_) {
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG deadline = closeDeadline_;
    milliseconds = deadline > now ? static_cast<DWORD>(std::min<ULONGLONG>(milliseconds, deadline - now + 1)) : 0;
  }
  const HANDLE handles[] = {networkEvent_.get(), wake_.get()};
  ::WaitForMultipleObjects(2, handles, FALSE, milliseconds);
}

int Session::Send(uint8_t opcode, const void* data, size_t size) {
  if (!open_ || closeSent_ || stopping_) return -1;
  if (size > static_cast<size_t>(INT_MAX)) return -1;
  std::lock_guard lock(writeLock_);
  if (closeSent_ || stopping_) return -1;
  const bool ok = WriteFrame(opcode, static_cast<const uint8_t*>(data), size);
  if (ok) FlushPongLocked();
  return ok ? static_cast<int>(size) : -1;
}

void Session::Close(bool graceful, const std::string& closePayload) {
  if (!open_) return;
  if (graceful) {
    if (closeSent_) return;  // already closing
    localCloseCode_ = closePayload.size() >= 2
                          ? (static_cast<uint8_t>(closePayload[0]) << 8) | static_cast<uint8_t>(closePayload[1])
                          : kCloseNoStatus;
    closeDeadline_ = ::GetTickCount64() + kCloseAnswerMs;
    if (closeSent_.exchange(true)) return;
    if (!SendClose(closePayload, kCloseAnswerMs)) abortRequested_ = true;
  } else {
    abortRequested_ = true;
  }
  ::SetEvent(wake_.get());
}

void Session::Abandon() {
  DetachOwner();
  abandoned_ = true;
  ::SetEvent(wake_.get());
}

bool Session::WaitDone(DWORD milliseconds) const {
  if (!thread_) return ::WaitForSingleObject(done_.get(), milliseconds) == WAIT_OBJECT_0;
  const HANDLE handles[] = {done_.get(), thread_.get()};
  const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, milliseconds);
  return result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1;
}

bool Session::SendClose(const std::string& payload, DWORD lockWaitMs) {
  if (stopping_) return false;
  std::unique_lock lock(writeLock_, std::defer_lock);
  if (!lock.try_lock_for(std::chrono::milliseconds(lockWaitMs))) return false;
  if (stopping_) return false;
  return WriteFrame(kOpClose, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

void Session::TryFlushPong() {
  std::unique_lock lock(writeLock_, std::try_to_lock);
  if (lock.owns_lock()) FlushPongLocked();
}

void Session::FlushPongLocked() {
  std::optional<std::string> pong;
  {
    std::lock_guard lock(pongLock_);
    pong.swap(pendingPong_);
  }
  if (pong && !closeSent_ && !stopping_)
    WriteFrame(kOpPong, reinterpret_cast<const uint8_t*>(pong->data()), pong->size());
}

bool Session::WriteFrame(uint8_t opcode, const uint8_t* data, size_t size) {
  uint8_t mask[4];
  MakeMask(mask);
  uint8_t* out = scratch_.get();
  size_t fill = EncodeFrameHeader(out, opcode, true, size, mask);
  size_t offset = 0;
  do {
    const size_t take = std::min(size - offset, kScratchSize + kMaxFrameHeader - fill);
    if (take) MaskPayload(out + fill, data + offset, take, mask, offset);
    fill += take;
    offset += take;
    if (!WriteRaw(out, fill)) return false;
    fill = 0;
  } while (offset < size);
  return true;
}

bool Session::WriteRaw(const uint8_t* data, size_t size) {
  ULONGLONG lastProgress = ::GetTickCount64();
  // Plain sockets answer CURLE_AGAIN when full, so they are only waited for
  // then. Schannel instead waits inside libcurl, without limit and holding
  // the handle lock, for room in the socket: a TLS record goes out only once
  // the socket is writable.
  bool wait = secure_;
  while (size > 0) {
    if (stopping_) return false;
    // Waiting here, outside libcurl and without the handle lock, lets the
    // receive thread go on reading while the peer is slow to take our bytes.
    if (wait && !WaitWritable(socket_, 50)) {
      if (::GetTickCount64() - lastProgress > kSendStallMs) {
        NoteSendFailure(CURLE_OPERATION_TIMEDOUT, "the server took no data for 30 s");
        return false;
      }
      continue;
    }
    size_t sent = 0;
    CURLcode rc;
    std::string error;
    {
      std::lock_guard lock(handleLock_);
      if (!curl_) return false;
      rc = curl_easy_send(curl_.get(), data, std::min(size, secure_ ? kSendPiece : kScratchSize), &sent);
      if (rc != CURLE_OK && rc != CURLE_AGAIN) error = CurlErrorText(rc, errorBuffer_.get());
    }
    if (rc == CURLE_OK && sent > 0) {
      data += sent;
      size -= sent;
      lastProgress = ::GetTickCount64();
      wait = secure_;
      continue;
    }
    if (rc != CURLE_OK && rc != CURLE_AGAIN) {
      NoteSendFailure(rc, error);
      return false;
    }
    if (::GetTickCount64() - lastProgress > kSendStallMs) {
      NoteSendFailure(CURLE_OPERATION_TIMEDOUT, "the server took no data for 30 s");
      return false;
    }
    wait = true;
  }
  return true;
}

// A frame cut short leaves the stream unusable: the connection is ended.
void Session::NoteSendFailure(int code, const std::string& text) {
  {
    std::lock_guard lock(failureLock_);
    if (!sendFailure_) sendFailure_.emplace(code, text);
  }
  log_->Write(name_, " send failed: ", text, " (curl ", code, ")");
  abortRequested_ = true;
  ::SetEvent(wake_.get());
}

}  // namespace clientsocket
