#include "mkinstaller/dotnet_info.h"

#include "installer/format/dotnet_pins.h"

namespace mkinstaller {

namespace {

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string r;
  for (const std::string& i : items) r += (r.empty() ? "" : separator) + i;
  return r;
}

// How a download is proven, as the installer checks it (dotnet_win.cpp).
std::string proof_of(const installer::format::DotnetPins& pins, bool detailed) {
  std::string signature, digest;
  if (pins.signature_pinned())
    signature = "its Authenticode signature verifies, by \"" + pins.signer + "\", with a chain ending in " +
                (detailed ? "root " + joined(pins.roots, " or ") : "a pinned root (" + std::to_string(pins.roots.size()) +
                                                                         (pins.roots.size() == 1 ? ")" : " pinned)"));
  if (!pins.digests.empty())
    digest = "its SHA-256 is " + (detailed ? joined(pins.digests, " or ")
                                           : "a pinned digest (" + std::to_string(pins.digests.size()) + " pinned)");
  if (signature.empty() && digest.empty()) return "never started (nothing is pinned that could prove it)";
  if (!signature.empty() && !digest.empty()) return "started only when " + signature + ", or when " + digest;
  return "started only when " + signature + digest;
}

}  // namespace

DotnetPlan dotnet_plan(std::string_view program, const std::string& framework, bool detailed) {
  DotnetPlan plan;
  if (framework.empty()) return plan;
  // "framework" is one of the versions the configuration check allows; only
  // 4.81 needs the 4.8.1 installer, every other the 4.8 one.
  const bool v481 = framework == "4.81";
  const std::string version = v481 ? "4.8.1" : "4.8";
  auto pins = installer::format::find_dotnet_pins(program);
  if (!pins) {
    plan.note = "the program carries no .NET Framework download settings (not the setup.exe of mkinstaller): "
                "what it downloads for \"framework\" " + framework + " is not known";
    plan.line = ".NET Framework " + framework + ": not known (the program carries no download settings)";
    return plan;
  }
  const std::string& url = v481 ? pins->url481 : pins->url48;
  if (url.empty())
    plan.problem = "this setup.exe has no address for the .NET Framework " + version + " offline installer, which "
                   "\"framework\" " + framework + " needs (build it with DOTNET_" + (v481 ? "481_URL" : "OFFLINE_URL") + ")";
  else if (!pins->any_proof())
    plan.problem = "this setup.exe pins no signature and no digest, so it would refuse every .NET Framework installer it "
                   "downloads (build it with DOTNET_TRUSTED_ROOTS and DOTNET_SIGNER, or DOTNET_PINNED_SHA256)";
  plan.line = ".NET Framework " + framework + ": when the machine has less, downloads the .NET Framework " + version +
              " offline installer from " + (url.empty() ? std::string("(no address)") : url) + ", " +
              proof_of(*pins, detailed) + (v481 ? "; needs Windows 10 21H2, Windows 11 or later" : "");
  return plan;
}

}  // namespace mkinstaller
