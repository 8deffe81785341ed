#include <windows.h>
#include <wincrypt.h>

#include "tests/support/dotnet_url.h"
#include "tests/support/paths.h"

namespace testsupport {

std::string stand_in(const std::string& name) { return native_path(std::string(BINARY_DIR) + "/stand-ins/" + name); }

std::string stand_in_thumbprint(const std::string& which) {
  std::string text = read_file(stand_in(which + ".sha1"));
  return text.substr(0, text.find_first_of("\r\n"));
}

bool trust_certificate(const std::string& pem_name, bool trusted) {
  std::string pem = read_file(stand_in(pem_name));
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
    return false;
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size,
                            nullptr, nullptr))
    return false;
  // The current user's store: Wine keeps the machine's roots from the host's
  // and does not take new ones there. Written out when the store closes.
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return false;
  PCCERT_CONTEXT added = nullptr;
  bool ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                             size, CERT_STORE_ADD_REPLACE_EXISTING, &added) != FALSE;
  if (ok && !trusted) ok = CertDeleteCertificateFromStore(added) != FALSE;  // frees `added`
  else if (added) CertFreeCertificateContext(added);
  return CertCloseStore(store, 0) && ok;
}

}  // namespace testsupport
