// Adds a certificate authority to, or removes it from, the local machine's
// ROOT store of the Wine prefix it runs in, so TLS tests can trust their own
// authority there and nowhere else.
//   trust_root add|remove CERT.pem
#include <windows.h>
// needs the types windows.h declares
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool ReadDer(const char* file, std::vector<BYTE>* der) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr))
    return false;
  der->resize(size);
  return CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der->data(),
                              &size, nullptr, nullptr) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "add" && std::string(argv[1]) != "remove")) {
    std::fprintf(stderr, "usage: trust_root add|remove CERT.pem\n");
    return 2;
  }
  const bool add = std::string(argv[1]) == "add";
  std::vector<BYTE> der;
  if (!ReadDer(argv[2], &der)) {
    std::fprintf(stderr, "trust_root: cannot read a PEM certificate from %s\n", argv[2]);
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    std::fprintf(stderr, "trust_root: cannot open LOCAL_MACHINE ROOT (error %lu)\n", GetLastError());
    return 1;
  }
  int result = 0;
  if (add) {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::fprintf(stderr, "trust_root: add failed (error %lu)\n", GetLastError());
      result = 1;
    }
  } else {
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found =
        wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr) : nullptr;
    if (found && !CertDeleteCertificateFromStore(found)) {  // frees found either way
      std::fprintf(stderr, "trust_root: remove failed (error %lu)\n", GetLastError());
      result = 1;
    }
    if (wanted) CertFreeCertificateContext(wanted);
  }
  CertCloseStore(store, 0);
  if (result == 0) std::printf("trust_root: %s done\n", argv[1]);
  return result;
}
