#include "tls_roots.h"

#include <windows.h>
// needs the types windows.h declares
#include <wincrypt.h>

#include <set>

#include "infra/win_resource.h"

namespace clientsocket {

namespace {

void close_store(HCERTSTORE store) { ::CertCloseStore(store, 0); }
using unique_certstore = hk::unique_any<HCERTSTORE, close_store>;

struct StoreName {
  DWORD location;
  const wchar_t* name;
};

// AuthRoot holds the roots Windows Update has installed on demand; the
// logical ROOT store does not always include it.
constexpr StoreName kStores[] = {
    {CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"},
    {CERT_SYSTEM_STORE_LOCAL_MACHINE, L"AuthRoot"},
    {CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"},
};

bool AppendPem(const CERT_CONTEXT* cert, std::string& out) {
  DWORD size = 0;
  if (!::CryptBinaryToStringA(cert->pbCertEncoded, cert->cbCertEncoded, CRYPT_STRING_BASE64HEADER, nullptr, &size) ||
      size == 0)
    return false;
  std::string pem(size, '\0');
  if (!::CryptBinaryToStringA(cert->pbCertEncoded, cert->cbCertEncoded, CRYPT_STRING_BASE64HEADER, pem.data(), &size))
    return false;
  pem.resize(size);  // without the terminating NUL
  out += pem;
  return true;
}

}  // namespace

std::string TrustedRootsPem(std::string* error) {
  std::string bundle;
  std::set<std::string> seen;
  int opened = 0;
  for (const StoreName& store : kStores) {
    unique_certstore handle(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                            store.location | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
                                            store.name));
    if (!handle) continue;
    ++opened;
    const CERT_CONTEXT* cert = nullptr;
    while ((cert = ::CertEnumCertificatesInStore(handle.get(), cert)) != nullptr) {
      if (!(cert->dwCertEncodingType & X509_ASN_ENCODING)) continue;
      std::string der(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
      if (!seen.insert(std::move(der)).second) continue;
      AppendPem(cert, bundle);
    }
  }
  if (bundle.empty() && error)
    *error = opened ? "the ROOT stores hold no certificate"
                    : "the ROOT stores could not be opened (error " + std::to_string(::GetLastError()) + ")";
  return bundle;
}

}  // namespace clientsocket
