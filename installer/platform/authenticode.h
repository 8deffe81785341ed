// A file's Authenticode signature as Windows verifies it, and the two facts
// a caller pins: who signed it and which root its chain ends in.
#pragma once

#include <string>

namespace installer {

struct SignatureFacts {
  // WinVerifyTrust's verdict: the signature, the file's digest in it and the
  // whole chain up to a root the machine trusts; nobody asked, revocation
  // read from the machine's cache only (it may be offline).
  bool verified = false;
  long status = 0;        // WinVerifyTrust's result (0 when verified)
  // The chain's own error bits (CERT_TRUST_STATUS), read even when
  // WinVerifyTrust passed: Wine's passes a chain that ends in no trusted
  // root. ~0 when there is no chain.
  unsigned long chain_errors = ~0ul;
  std::string signer;     // the signing certificate's common name, code page 936
  std::string root_sha1;  // SHA-1 of the chain's last certificate, 40 upper-case hexadecimal digits
};

// Verifies the signature of the file open as `file` (a HANDLE, read through;
// `path` names it for the policy). wintrust.dll and crypt32.dll are loaded
// from the system folder on first use. Windows only.
SignatureFacts verify_file_signature(void* file, const std::u16string& path);

// Whether the chain's errors leave it whole: its signatures verify, it ends
// in a root the machine trusts, for code signing, nothing revoked. What the
// cache cannot say about revocation (the machine may be offline) and the
// validity period (WinVerifyTrust judges it at the time-stamp) do not count.
bool chain_whole(unsigned long chain_errors);

}  // namespace installer
