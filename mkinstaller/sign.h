// Authenticode signing, the last step of `build` (and of the uninstaller
// `pack` adds): with osslsigncode and a PKCS#12 file, or with the
// publisher's own command (a hardware token, a signing service). Every
// signing is proven afterwards: the signature is there and verifies, and the
// file is the one built with nothing but the signature added. And what
// `inspect` says of a signature.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "mkinstaller/files.h"
#include "mkinstaller/pe_resources.h"

namespace mkinstaller {

struct SignOptions {
  std::string pkcs12;                   // --sign-pkcs12 FILE
  std::string password_file;            // --sign-password-file FILE (an empty file: no password)
  std::string password_env;             // --sign-password-env NAME (an empty value: no password)
  bool no_password = false;             // --sign-no-password
  std::vector<std::string> timestamps;  // --sign-timestamp URL, each tried in turn (RFC 3161)
  std::string command;                  // --sign-command 'CMD {file}'
  std::string ca_file;                  // --sign-ca-file PEM: the roots the signature must lead to
  bool any() const { return !pkcs12.empty() || !command.empty(); }
};

// Checks the options before anything is built; false with the message.
bool check_sign_options(const SignOptions& options, std::string* why);

// Bytes a signature may change: their file offset and length.
struct Field {
  std::uint64_t at = 0;
  std::size_t size = 0;
};
// The checksum and the security directory entry of a program.
std::vector<Field> signature_fields(const rt::PeHeaderInfo& header);
// Hashes bytes that lie at `at` onwards with the fields' bytes taken as zeros.
void hash_without(installer::Sha256& hash, std::uint64_t at, const char* data, std::size_t n,
                  const std::vector<Field>& fields);
// That digest of the first `n` bytes of a file; "" when it cannot be read.
std::string unsigned_digest(rt::ResourceSource& file, std::uint64_t n, const std::vector<Field>& fields);

// The program as built: its size and its digest without the fields.
struct BuiltProgram {
  std::uint64_t size = 0;
  std::vector<Field> fields;
  std::string digest;
};

// Why the certificate table of a program is not one signature laid out as
// it must be; "" when it is (or when there is no table). It must end the
// file, start past the program's sections on an 8-byte boundary, and hold
// one WIN_CERTIFICATE whose length covers its signature, padded with zeros
// to the next multiple of 8 and no further. Bytes anywhere else would be
// left out of the signed digest, for anyone to fill.
std::string certificate_table_problem(rt::ResourceSource& file, const rt::PeHeaderInfo& header);

// What a signature check found.
struct SignatureCheck {
  bool present = false, verified = false;
  bool untrusted = false;         // its chain leads to no authority trusted here
  std::string signer, timestamp;  // the signer's subject, the time-stamp's time ("" when none)
  std::string problem;            // why it does not verify
  // "signed by /CN=...; the signature verifies ..." or why not.
  std::string text(const std::string& ca_file) const;
};
// Verifies the signature of the program at `path`: its certificate table as
// certificate_table_problem() wants it, then the signature with osslsigncode,
// against the authorities in `ca_file` (and its time-stamp's too), else the
// system's.
SignatureCheck verify_signature(const std::string& path, const std::string& ca_file);

class Signer {
 public:
  explicit Signer(SignOptions options) : options_(std::move(options)) {}
  const SignOptions& options() const { return options_; }

  // For a .p12: opens it with its password by signing a copy of `sample` (a
  // program) in a folder of this run's own, and checks that its certificate
  // is valid now and allowed for code signing. A signing command is run only
  // to sign. False with the message.
  // With `try_timestamps` (check, --dry-run), every --sign-timestamp server
  // is asked for a time-stamp of that copy too: false when none gives one;
  // those that do not are named in timestamp_warning().
  bool check_certificate(const std::string& sample, std::string* why, bool try_timestamps = false);
  const std::string& timestamp_warning() const { return timestamp_warning_; }
  // Signs the program at `path` (in a folder of this run's own) in place,
  // time-stamped by the first server that answers, then proves it: a
  // signature that verifies, and the file `built` with only the signature
  // added. False with the message; the file is then not to be used.
  bool sign(const std::string& path, const BuiltProgram& built, std::string* why);
  // "signed by ..., time-stamped by ..." after sign().
  const std::string& note() const { return note_; }

 private:
  bool sign_with_pkcs12(const std::string& path, std::string* why);
  // Where osslsigncode's messages go: a folder of this run's own.
  const std::string& folder();
  SignOptions options_;
  std::unique_ptr<PrivateFolder> folder_;
  std::string note_;
  std::string timestamp_warning_;
};

// Signs a copy of the program at `program`, made in `folder` under its own
// name, as Signer::sign() signs and proves; *signed_copy is its path.
bool sign_copy(Signer& signer, const std::string& program, const std::string& folder, std::string* signed_copy,
               std::string* why);

}  // namespace mkinstaller
