// The signing certificate of an Authenticode signature, read from the
// certificate table of a signed program (WIN_CERTIFICATE records holding a
// PKCS#7 SignedData): who it names, when it is valid, and whether it may
// sign code. Read by the builder itself (DER), so that `check` can say what
// is wrong with a certificate before anything is signed, on every system.
#pragma once

#include <cstdint>
#include <string>

namespace mkinstaller {

struct SignerCertificate {
  std::string subject;                         // its common name (UTF-8), else "(no name)"
  std::int64_t not_before = 0, not_after = 0;  // seconds since 1970-01-01, UTC
  bool has_extended_usage = false, code_signing = false;  // the EKU extension, and whether it allows code signing
  bool has_key_usage = false, digital_signature = false;  // the key usage extension, and its digitalSignature bit
};

// The certificate that made the first signature of the table. False with
// the reason when the table cannot be read.
bool signer_certificate(const std::string& certificate_table, SignerCertificate* certificate, std::string* why);

// Why the certificate may not sign code at `now` (seconds since 1970, UTC):
// not yet or no longer valid, or not allowed for code signing; "" when it may.
std::string code_signing_problem(const SignerCertificate& certificate, std::int64_t now);

// "2026-12-10 11:48 UTC".
std::string utc_text(std::int64_t seconds);

}  // namespace mkinstaller
