// The library's small factory layer over the socket component's HTTP client.
#pragma once
#include <windows.h>

#include <memory>

#include "ClientSocket.h"

namespace HttpUtils {

// {135ABB3A-DEAA-4289-9D67-8BF13E139AB4}
inline constexpr GUID IID_HttpUtil = {0x135abb3a, 0xdeaa, 0x4289, {0x9d, 0x67, 0x8b, 0xf1, 0x3e, 0x13, 0x9a, 0xb4}};
// {D260A1B2-6B34-4269-B926-A411A9497311}
inline constexpr GUID IID_HttpClient = {0xd260a1b2, 0x6b34, 0x4269, {0xb9, 0x26, 0xa4, 0x11, 0xa9, 0x49, 0x73, 0x11}};

class HttpUtil {};

class HttpConnectionFactory {
 public:
  // The process-wide factory, made on first use.
  static std::shared_ptr<HttpConnectionFactory> Instance();
  // IID_HttpUtil: the process-wide HttpUtil; IID_HttpClient: a new client from
  // ClientSocket.dll. Anything else empties out and answers E_NOINTERFACE; a
  // null out answers E_INVALIDARG.
  static HRESULT QueryInterface(const GUID& iid, std::shared_ptr<void>* out);
};

}  // namespace HttpUtils
