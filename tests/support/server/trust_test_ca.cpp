// Test equipment: adds a DER certificate to the machine's trusted root store of the Wine prefix.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: trust_test_ca <certificate.der>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  if (!in || der.empty()) {
    std::fwprintf(stderr, L"trust_test_ca: cannot read %ls\n", argv[1]);
    return 1;
  }
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) {
    std::fwprintf(stderr, L"trust_test_ca: CertOpenStore failed (%lu)\n", ::GetLastError());
    return 1;
  }
  const BOOL added =
      ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD code = ::GetLastError();
  ::CertCloseStore(store, 0);
  if (!added) {
    std::fwprintf(stderr, L"trust_test_ca: CertAddEncodedCertificateToStore failed (%lu)\n", code);
    return 1;
  }
  return 0;
}
