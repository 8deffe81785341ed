// The .NET Framework version table and the reading of the required version.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "installer/steps/dotnet.h"
#include "installer/format/dotnet_pins.h"
#include "installer/platform/launch.h"

namespace {

using installer::dotnet_version_for;
using installer::required_framework_version;

TEST(DotnetVersionTest, ReleaseNumbersMapToTheFirstThresholdTheyReach) {
  struct Row {
    int release;
    float version;
  } rows[] = {{533320, 4.81f}, {999999, 4.81f}, {533319, 4.8f}, {528040, 4.8f}, {528039, 4.72f},
              {461808, 4.72f}, {461308, 4.71f}, {460798, 4.7f},  {394802, 4.62f}, {394254, 4.61f},
              {393295, 4.6f},  {379893, 4.52f}, {378675, 4.51f}, {378389, 4.5f},  {378388, 4.0f},
              {0, 4.0f},       {-5, 4.0f}};
  for (const Row& r : rows) EXPECT_EQ(dotnet_version_for(true, r.release, false), r.version) << r.release;
}

TEST(DotnetVersionTest, WithoutTheV4KeyOnlyTheV35KeyCounts) {
  EXPECT_EQ(dotnet_version_for(false, 528040, true), 3.5f);  // a stray Release without its key is not read
  EXPECT_EQ(dotnet_version_for(false, 0, true), 3.5f);
  EXPECT_EQ(dotnet_version_for(false, 0, false), 0.0f);
  EXPECT_EQ(dotnet_version_for(true, 0, true), 4.0f);
}

TEST(DotnetVersionTest, RequiredVersionReadsALeadingNumberAndComparesAsTheTableDoes) {
  EXPECT_EQ(required_framework_version("4.72"), 4.72f);
  EXPECT_EQ(required_framework_version("4.8"), dotnet_version_for(true, 528040, false));
  EXPECT_EQ(required_framework_version("4.7.2"), 4.7f);
  EXPECT_GE(dotnet_version_for(true, 461308, false), required_framework_version("4.7.2"));  // 4.71 passes
  EXPECT_EQ(required_framework_version("  4.5"), 4.5f);
  EXPECT_EQ(required_framework_version("4"), 4.0f);
  EXPECT_EQ(required_framework_version(""), 0.0f);
  EXPECT_EQ(required_framework_version("v4.8"), 0.0f);
  EXPECT_EQ(required_framework_version("abc"), 0.0f);
  // Whatever the machine has passes a requirement of 0.
  EXPECT_GE(dotnet_version_for(false, 0, false), required_framework_version(""));
}

TEST(DotnetVersionTest, OfflineInstallersKeepTheirFileNamesWhenDownloaded) {
  // File names compare without regard to case on Windows.
  auto name_of = [](const std::string& url) {
    std::string name = installer::file_name_of(rt::Text(url), true).str();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  const installer::format::DotnetPins pins = installer::built_in_dotnet_pins();
  EXPECT_EQ(name_of(pins.url48), "ndp48-x86-x64-allos-enu.exe");
  EXPECT_EQ(name_of(pins.url481), "ndp481-x86-x64-allos-enu.exe");
  EXPECT_EQ(pins.url48.substr(0, 8), "https://");
  EXPECT_EQ(pins.url481.substr(0, 8), "https://");
  // What the build carries reads back and can prove a download.
  EXPECT_TRUE(pins.any_proof());
}

TEST(DotnetVersionTest, EachVersionDownloadsTheInstallerThatInstallsIt) {
  installer::format::DotnetPins pins;
  pins.url48 = "https://example.invalid/NDP48.exe";
  pins.url481 = "https://example.invalid/ndp481.exe";
  for (const char* v : {"3.5", "4.0", "4.5", "4.72", "4.8"})
    EXPECT_EQ(installer::dotnet_url_for(required_framework_version(v), pins).str(), pins.url48) << v;
  EXPECT_EQ(installer::dotnet_url_for(required_framework_version("4.81"), pins).str(), pins.url481);
}

TEST(DotnetVersionTest, WindowsTooOldForTheFrameworkIsToldBeforeAnyDownload) {
  using installer::WindowsRelease;
  struct Row {
    const char* required;
    WindowsRelease windows;
    bool runs;
  } rows[] = {
      {"4.8", {6, 1, 7600, 0}, false},  {"4.8", {6, 1, 7601, 1}, true},   {"4.8", {6, 1, 7601, 0}, true},
      {"4.8", {6, 0, 6002, 2}, false},  {"4.8", {6, 2, 9200, 0}, true},   {"4.8", {10, 0, 10240, 0}, true},
      {"4.5", {6, 1, 7600, 0}, false},  {"4.81", {6, 3, 9600, 0}, false}, {"4.81", {10, 0, 19043, 0}, false},
      {"4.81", {10, 0, 19044, 0}, true}, {"4.81", {10, 0, 22000, 0}, true}, {"4.81", {10, 0, 20348, 0}, true},
  };
  for (const Row& r : rows)
    EXPECT_EQ(installer::windows_runs_dotnet(required_framework_version(r.required), r.windows), r.runs)
        << r.required << " on " << r.windows.major << "." << r.windows.minor << "." << r.windows.build;
  EXPECT_NE(installer::dotnet_windows_message(4.81f).str().find("Windows 10（21H2 版）"), std::string::npos);
  EXPECT_NE(installer::dotnet_windows_message(4.8f).str().find("Windows 7 SP1"), std::string::npos);
}

TEST(DotnetProofTest, ASignatureProvesOnlyWhenVerifiedWholeBySignerAndRootPinned) {
  installer::format::DotnetPins pins;
  pins.roots = {"8F43288AD272F3103B6FB1428485EA3014C0BCFE", "3B1EFD3A66EA28B16697394703A72CA340A05BD5"};
  pins.signer = "Microsoft Corporation";
  installer::SignatureFacts good;
  good.verified = true;
  good.chain_errors = 0;
  good.signer = "Microsoft Corporation";
  good.root_sha1 = "3B1EFD3A66EA28B16697394703A72CA340A05BD5";
  EXPECT_TRUE(installer::signature_proves(pins, good));
  struct Row {
    const char* why;
    void (*change)(installer::SignatureFacts&);
    bool proves;
  } rows[] = {
      {"not verified", [](installer::SignatureFacts& f) { f.verified = false; }, false},
      {"no chain", [](installer::SignatureFacts& f) { f.chain_errors = ~0ul; }, false},
      {"untrusted root (Wine verifies such a chain)", [](installer::SignatureFacts& f) { f.chain_errors = 0x20; }, false},
      {"partial chain", [](installer::SignatureFacts& f) { f.chain_errors = 0x10000; }, false},
      {"revoked", [](installer::SignatureFacts& f) { f.chain_errors = 0x4; }, false},
      {"a signature in the chain that does not verify", [](installer::SignatureFacts& f) { f.chain_errors = 0x8; }, false},
      {"revocation unknown offline", [](installer::SignatureFacts& f) { f.chain_errors = 0x40 | 0x1000000; }, true},
      {"expired, judged at the time-stamp", [](installer::SignatureFacts& f) { f.chain_errors = 0x1; }, true},
      {"another signer", [](installer::SignatureFacts& f) { f.signer = "Microsoft Corporation Ltd"; }, false},
      {"signer's case", [](installer::SignatureFacts& f) { f.signer = "microsoft corporation"; }, false},
      {"another root", [](installer::SignatureFacts& f) { f.root_sha1 = std::string(40, 'A'); }, false},
      {"no root", [](installer::SignatureFacts& f) { f.root_sha1.clear(); }, false},
  };
  for (const Row& r : rows) {
    installer::SignatureFacts facts = good;
    r.change(facts);
    EXPECT_EQ(installer::signature_proves(pins, facts), r.proves) << r.why;
  }
  // Without a pinned root or signer a signature proves nothing.
  installer::format::DotnetPins no_roots = pins;
  no_roots.roots.clear();
  EXPECT_FALSE(installer::signature_proves(no_roots, good));
  installer::format::DotnetPins no_signer = pins;
  no_signer.signer.clear();
  good.signer.clear();
  EXPECT_FALSE(installer::signature_proves(no_signer, good));
}

TEST(DotnetProofTest, ADigestProvesOnlyWhenPinned) {
  installer::format::DotnetPins pins;
  const std::string digest = "0a3a390c47e639d0f7fc65b21195fee6b7f65b066f80f70c60fab191d14b7e40";
  EXPECT_FALSE(installer::digest_proves(pins, digest));
  pins.digests = {std::string(64, '1'), digest};
  EXPECT_TRUE(installer::digest_proves(pins, digest));
  EXPECT_TRUE(installer::digest_proves(pins, "0A3A390C47E639D0F7FC65B21195FEE6B7F65B066F80F70C60FAB191D14B7E40"));
  EXPECT_FALSE(installer::digest_proves(pins, std::string(64, '2')));
  EXPECT_FALSE(installer::digest_proves(pins, ""));  // a file that could not be read
}

TEST(DotnetProofTest, TheInstallersExitCodeSaysHowItEnded) {
  using installer::DotnetEnd;
  struct Row {
    unsigned long code;
    DotnetEnd end;
  } rows[] = {{0, DotnetEnd::kInstalled},   {3010, DotnetEnd::kRestartNeeded}, {1641, DotnetEnd::kRestartNeeded},
              {1602, DotnetEnd::kFailed},   {5100, DotnetEnd::kFailed},        {1, DotnetEnd::kFailed},
              {0xFFFFFFFFul, DotnetEnd::kFailed}};
  for (const Row& r : rows) EXPECT_EQ(installer::dotnet_end_of(r.code), r.end) << r.code;
  // Each failure names what happened; the three differ.
  std::string cancelled = installer::dotnet_exit_message(1602).str();
  std::string unmet = installer::dotnet_exit_message(5100).str();
  std::string other = installer::dotnet_exit_message(1).str();
  EXPECT_NE(cancelled.find("已取消"), std::string::npos);
  EXPECT_NE(unmet.find("不满足"), std::string::npos);
  EXPECT_NE(other.find("代码 1 结束"), std::string::npos);
  EXPECT_NE(installer::dotnet_restart_note("示例").str().find("请重启后再运行“示例”"), std::string::npos);
}

TEST(DotnetPinsTest, PinsReadBackAndAnythingMalformedIsRefused) {
  using installer::format::DotnetPins;
  DotnetPins pins;
  pins.url48 = "https://a.example/NDP48.exe";
  pins.url481 = "http://127.0.0.1:8080/ndp481.exe";
  pins.roots = {"8F43288AD272F3103B6FB1428485EA3014C0BCFE", "98F54CD00E52E68A519BB0CBD6B1D3A569FF5E54"};
  pins.signer = "Microsoft Corporation";
  pins.digests = {"0a3a390c47e639d0f7fc65b21195fee6b7f65b066f80f70c60fab191d14b7e40"};
  std::string text = installer::format::dotnet_pins_text(pins);
  DotnetPins read;
  ASSERT_TRUE(installer::format::parse_dotnet_pins(text, &read));
  EXPECT_EQ(read.url48, pins.url48);
  EXPECT_EQ(read.url481, pins.url481);
  EXPECT_EQ(read.roots, pins.roots);
  EXPECT_EQ(read.signer, pins.signer);
  EXPECT_EQ(read.digests, pins.digests);
  // Thumbprints and digests are kept in one case whatever the build wrote.
  ASSERT_TRUE(installer::format::parse_dotnet_pins(
      "tarnel-dotnet-pins:roots=8f43288ad272f3103b6fb1428485ea3014c0bcfe\nsha256=0A3A390C47E639D0F7FC65B21195FEE6B7F65B066F80F70C60FAB191D14B7E40",
      &read));
  EXPECT_EQ(read.roots[0], "8F43288AD272F3103B6FB1428485EA3014C0BCFE");
  EXPECT_EQ(read.digests[0], pins.digests[0]);
  EXPECT_FALSE(read.signature_pinned());  // a root without a signer
  EXPECT_TRUE(read.any_proof());
  // Empty lists read as empty: such a program proves nothing.
  ASSERT_TRUE(installer::format::parse_dotnet_pins("tarnel-dotnet-pins:roots=\nsigner=\nsha256=", &read));
  EXPECT_FALSE(read.any_proof());
  for (const char* bad : {
           "", "dotnet-pins:url48=https://a/", "tarnel-dotnet-pins:url48", "tarnel-dotnet-pins:colour=blue",
           "tarnel-dotnet-pins:roots=8F43288AD272F3103B6FB1428485EA3014C0BCF",
           "tarnel-dotnet-pins:roots=8F43288AD272F3103B6FB1428485EA3014C0BCFG",
           "tarnel-dotnet-pins:roots=8F43288AD272F3103B6FB1428485EA3014C0BCFE,",
           "tarnel-dotnet-pins:sha256=0a3a", "tarnel-dotnet-pins:url48=ftp://a/NDP48.exe",
           "tarnel-dotnet-pins:url481=file:///c:/x.exe"}) {
    DotnetPins untouched;
    untouched.signer = "kept";
    EXPECT_FALSE(installer::format::parse_dotnet_pins(bad, &untouched)) << bad;
    EXPECT_EQ(untouched.signer, "kept") << bad;
  }
}

TEST(DotnetPinsTest, APinsTextIsFoundInAProgramsBytes) {
  using installer::format::find_dotnet_pins;
  installer::format::DotnetPins pins;
  pins.url48 = "https://a.example/NDP48.exe";
  pins.digests = {std::string(64, 'a')};
  std::string text = installer::format::dotnet_pins_text(pins);
  // The tag alone (the parser's own constant) is passed over.
  std::string program = std::string("MZ\0\0", 4) + installer::format::kDotnetPinsTag + std::string(1, '\0') + "xx" +
                        text + std::string(3, '\0');
  std::size_t at = 0, length = 0;
  auto found = find_dotnet_pins(program, &at, &length);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->url48, pins.url48);
  EXPECT_EQ(program.substr(at, length), text);
  EXPECT_TRUE(find_dotnet_pins(program + text + std::string(1, '\0')));  // the same twice
  installer::format::DotnetPins other = pins;
  other.url48 = "https://b.example/NDP48.exe";
  EXPECT_FALSE(find_dotnet_pins(program + installer::format::dotnet_pins_text(other) + std::string(1, '\0')));
  EXPECT_FALSE(find_dotnet_pins("MZ no pins here"));
}

}  // namespace
