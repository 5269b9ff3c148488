#include "core/HttpUtils.h"

namespace HttpUtils {

std::shared_ptr<HttpConnectionFactory> HttpConnectionFactory::Instance() {
  static const std::shared_ptr<HttpConnectionFactory> instance = std::make_shared<HttpConnectionFactory>();
  return instance;
}

HRESULT HttpConnectionFactory::QueryInterface(const GUID& iid, std::shared_ptr<void>* out) {
  if (!out) return E_INVALIDARG;
  if (IsEqualGUID(iid, IID_HttpUtil)) {
    static const std::shared_ptr<HttpUtil> util = std::make_shared<HttpUtil>();
    *out = util;
    return S_OK;
  }
  if (IsEqualGUID(iid, IID_HttpClient)) {
    std::shared_ptr<HttpHandler::HttpClient> client;
    const HRESULT hr = ClientConnectionFactory::QueryInterface(ClientConnectionFactory::IID_HttpClient, &client);
    *out = client;
    return hr;
  }
  out->reset();
  return E_NOINTERFACE;
}

}  // namespace HttpUtils
