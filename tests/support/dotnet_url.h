// Points a copy of a program at other .NET Framework installers and proofs,
// for tests that run the real setup.exe: the pins text the build compiled in
// (installer/format/dotnet_pins.h: Microsoft's addresses, roots and digest)
// is rewritten in the program's bytes with 127.0.0.1 addresses of the test
// servers and the test root's thumbprint or a stand-in's digest, padded with
// zero bytes. The product has no run-time switch for it. And the test root
// of the signed stand-ins (tests/servers/sign_stand_ins.sh), trusted by the
// Wine prefix while a test needs it.
#pragma once

#include <string>

#include "installer/format/dotnet_pins.h"
#include "installer/steps/download.h"

namespace testsupport {

// Replaces the one pins text in `program` (a file's bytes) by `pins`, which
// must not be longer. False (and nothing changed) when the text is not found
// exactly once or the new one is too long.
bool point_dotnet_pins_at(std::string& program, const installer::format::DotnetPins& pins);
// The same for the download's patience (installer/steps/download.h):
// end-to-end runs that must not wait a minute.
bool set_download_patience(std::string& program, const installer::DownloadPatience& patience);

// The signed stand-ins' folder (STAND_INS_DIR) as a Windows path, one of its
// files, and a thumbprint it holds ("root" or "self").
std::string stand_in(const std::string& name);
std::string stand_in_thumbprint(const std::string& which);
// Adds the certificate stand_in(name) (PEM) to the current user's root store,
// or takes it out again; true when done. Windows only.
bool trust_certificate(const std::string& pem_name, bool trusted);

}  // namespace testsupport
