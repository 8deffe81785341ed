// What setup.exe may download for the .NET Framework prerequisite and what
// proves such a download genuine, as the program carries it: one text, the
// tag followed by lines "key=value" (the build's DOTNET_* settings):
//   url48=   the offline installer for every version up to 4.8
//   url481=  the 4.8.1 offline installer
//   roots=   SHA-1 thumbprints of the roots a signature must chain to (",")
//   signer=  the name the signing certificate must carry
//   sha256=  published digests of installers that may be started (",")
// The builder reads it from the stub to say what an installer will download
// and how it is checked; tests rewrite it in a copy of a program.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer::format {

inline constexpr char kDotnetPinsTag[] = "tarnel-dotnet-pins:";

struct DotnetPins {
  std::string url48, url481;
  std::vector<std::string> roots;    // 40 upper-case hexadecimal digits each
  std::string signer;
  std::vector<std::string> digests;  // 64 lower-case hexadecimal digits each

  // A signature can prove a download only with a root and a signer to match.
  bool signature_pinned() const { return !roots.empty() && !signer.empty(); }
  bool any_proof() const { return signature_pinned() || !digests.empty(); }
};

// Reads the text (the tag first; it ends at its first zero byte or at the
// end of `text`). Thumbprints and digests in either case are kept in the
// case above. False for anything else: no tag, a line without "=", an
// unknown key, a thumbprint or digest of the wrong length or not
// hexadecimal, an address that is not http:// or https://.
bool parse_dotnet_pins(std::string_view text, DotnetPins* pins);
// The text parse_dotnet_pins reads back, without a zero byte at its end.
std::string dotnet_pins_text(const DotnetPins& pins);
// The pins a program carries: the one readable text after a tag in its
// bytes. Empty when there is none, or more than one that differ. `at` and
// `length` give where the text lies (without its zero byte).
std::optional<DotnetPins> find_dotnet_pins(std::string_view program, std::size_t* at = nullptr,
                                           std::size_t* length = nullptr);

}  // namespace installer::format
