// Points a copy of a program at another .NET Framework offline installer
// address, for tests that run the real setup.exe: the build's address
// (DOTNET_OFFLINE_URL, Microsoft's site) is replaced in the program's bytes by
// a 127.0.0.1 address of the test servers, padded with NULs. The product has
// no run-time switch for it.
#pragma once

#include <string>

namespace testsupport {

// The address the build compiled in.
std::string built_dotnet_url();
// Replaces the one copy of built_dotnet_url() in `program` (a file's bytes)
// by `url`, which must not be longer. False (and nothing changed) when the
// address is not found exactly once or `url` is too long.
bool point_dotnet_url_at(std::string& program, const std::string& url);
// The same for the digest built in beside it (64 hexadecimal digits).
bool point_dotnet_sha256_at(std::string& program, const std::string& sha256);

}  // namespace testsupport
