#include "ClientSocket.h"

using namespace SocketUtils::ClientSocket;

SocketUtils::SmartPtr<AsyncSocket> AsyncSocket::CreateAsyncSocket(int, const std::string&, int, bool, unsigned long,
                                                                  const std::string&, std::string,
                                                                  const stProxyDetails&) {
  return {};
}

HRESULT ClientConnectionFactory::QueryInterface(const GUID&, std::shared_ptr<HttpHandler::HttpClient>* out) {
  if (!out) return E_INVALIDARG;
  out->reset();
  return E_NOINTERFACE;
}
