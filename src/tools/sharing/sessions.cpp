// The network sessions other computers hold on this machine and the files
// opened through them.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <lm.h>

#include <string>

#include "core/text.h"
#include "infra/log.h"
#include "tools/sharing/guarded_call.h"
#include "tools/sharing/net_enumeration.h"
#include "tools/sharing/sharing.h"
#include "tools/sharing/sharing_api.h"

namespace hk::sharing {

namespace {

// Balances one successful WSAStartup.
class WinsockScope {
 public:
  WinsockScope() = default;
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  ~WinsockScope() {
    if (started_) ::WSACleanup();
  }
  int Start() {
    WSADATA data;
    const int result = ::WSAStartup(MAKEWORD(2, 2), &data);
    started_ = result == 0;
    return result;
  }

 private:
  bool started_ = false;
};

void Answer(Json::Value& data, NET_API_STATUS status, const char* success) {
  if (status == NERR_Success) {
    data["Status"] = "Success";
    data["Remarks"] = success;
  } else {
    data["Status"] = "Failed";
    data["Remarks"] = SystemErrorText(status);
  }
}

}  // namespace

std::string LookupHostName(const std::string& clientName) {
  WinsockScope winsock;
  if (const int started = winsock.Start(); started != 0) {
    WriteLog(L"WSAStartup failed: %d\n", started);
    return clientName;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ::inet_addr(clientName.c_str());
  wchar_t host[NI_MAXHOST] = {};
  if (::GetNameInfoW(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, NI_MAXHOST, nullptr, 0,
                     NI_NAMEREQD) != 0) {
    WriteLog(L"getnameinfo failed with error # %ld\n", static_cast<long>(::WSAGetLastError()));
    return clientName;
  }
  WriteLog(L"getnameinfo returned hostname = %s\n", host);
  return ToUtf8(host);
}

void ListSessions(Json::Value& data) {
  DWORD resume = 0;
  const auto sessions = EnumerateAll<SESSION_INFO_502>([&](LPBYTE* buffer, DWORD* read, DWORD* total) {
    return NetCall(L"NetSessionEnum", [&] {
      return g_sharingApi.NetSessionEnum(nullptr, nullptr, nullptr, 502, buffer, MAX_PREFERRED_LENGTH, read, total,
                                         &resume);
    });
  });
  if (sessions.status != NERR_Success) {
    Answer(data, sessions.status, "");
    data["Sessions"] = Json::Value();
    return;
  }
  PutList(data, sessions.size(), "sessionCount", "isSessionExceeded", "Sessions", [&](size_t i) {
    const SESSION_INFO_502& session = sessions[i];
    return SessionRow(session, LookupHostName(Utf8(session.sesi502_cname)));
  });
}

void DeleteSession(const Json::Value& request, Json::Value& data) {
  std::wstring client = FromUtf8(RequestText(request, "UNC_CLIENT_NAME"));
  std::wstring user = FromUtf8(RequestText(request, "USER_NAME"));
  const NET_API_STATUS status =
      NetCall(L"NetSessionDel", [&] { return g_sharingApi.NetSessionDel(nullptr, client.data(), user.data()); });
  Answer(data, status, "Successfully delete this Session");
}

void ListOpenFiles(Json::Value& data) {
  DWORD_PTR resume = 0;
  const auto files = EnumerateAll<FILE_INFO_3>([&](LPBYTE* buffer, DWORD* read, DWORD* total) {
    return NetCall(L"NetFileEnum", [&] {
      return g_sharingApi.NetFileEnum(nullptr, nullptr, nullptr, 3, buffer, MAX_PREFERRED_LENGTH, read, total, &resume);
    });
  });
  if (files.status != NERR_Success) {
    Answer(data, files.status, "");
    data["OpenFiles"] = Json::Value();
    return;
  }
  PutList(data, files.size(), "fileCount", "isfileCountExceeded", "OpenFiles",
          [&](size_t i) { return OpenFileRow(files[i]); });
}

void CloseFile(const Json::Value& request, Json::Value& data) {
  const DWORD id = FileIdFromText(RequestText(request, "FILE_INFO_ID"));
  Answer(data, NetCall(L"NetFileClose", [&] { return g_sharingApi.NetFileClose(nullptr, id); }),
         "File Closed Successfully");
}

}  // namespace hk::sharing
