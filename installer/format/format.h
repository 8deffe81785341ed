// The byte contract between the builder (mkinstaller) and the programs it
// configures: where setup.exe finds its logo, configuration record and
// package, the record's keys, where the package step records the installed-
// file list inside uninst.exe, the pass phrase of both encrypted texts, and
// the uninstall entry's name and key paths. Changing any of these breaks
// installers already built and installations already made.
#pragma once

namespace installer::format {

// setup.exe's resources: type "SYSTEM" (found by any case), three names.
inline constexpr char kResourceType[] = "SYSTEM";
inline constexpr char kLogoResource[] = "101";     // PNG image
inline constexpr char kRecordResource[] = "102";   // encrypted JSON record
inline constexpr char kPackageResource[] = "103";  // ZIP archive ("disk")

// The configuration record: a JSON object of texts with these keys.
inline constexpr char kKeySoftName[] = "softname";
inline constexpr char kKeySoftVersion[] = "softversion";
inline constexpr char kKeyPackageUrl[] = "urlremote";
inline constexpr char kKeyOfflineUrl[] = "urlfull";
inline constexpr char kKeyFramework[] = "framework";
inline constexpr char kKeyMainFile[] = "mainfile";
inline constexpr char kKeyInstallType[] = "installtype";
inline constexpr char kKeyCompanyName[] = "companyname";
inline constexpr char kKeyCompanyUrl[] = "companyurl";
inline constexpr char kKeyAgreementUrl[] = "protocol";
inline constexpr char kKeySha256[] = "sha256";  // optional: the package's digest
inline constexpr char kKeyScope[] = "scope";    // optional: who the installation is for
// Optional: further addresses of the same package, separated by blanks,
// tried in order when the one before fails.
inline constexpr char kKeyMirrors[] = "mirrors";
inline constexpr const char* kConfigKeys[] = {
    kKeySoftName,    kKeySoftVersion, kKeyPackageUrl, kKeyOfflineUrl,   kKeyFramework, kKeyMainFile,
    kKeyInstallType, kKeyCompanyName, kKeyCompanyUrl, kKeyAgreementUrl, kKeySha256,    kKeyScope,
    kKeyMirrors};
// The two values of "installtype".
inline constexpr char kInstallTypeNet[] = "net";
inline constexpr char kInstallTypeDisk[] = "disk";
// The two values of "scope". Without the key: the unscoped layout (the
// person's folder, the machine's entry, elevated), kept for old records.
inline constexpr char kScopeUser[] = "user";        // one person, no elevation
inline constexpr char kScopeMachine[] = "machine";  // every user, elevated

// uninst.exe's installed-file list when the uninstaller is signed: a file
// beside it, so that writing the list leaves its signature whole.
inline constexpr char kListFileName[] = "uninst.dat";

// uninst.exe's installed-file list: paths, each ending with CR LF, a folder's
// with "\" before it; encrypted like the record.
inline constexpr char kListResourceType[] = "install";
inline constexpr char kListResourceName[] = "list";
// The uninstaller's file name in the installation folder ({app}/uninst.exe).
inline constexpr char kUninstallerFile[] = "uninst.exe";

// Pass phrase of the configuration record and of the installed-file list.
inline constexpr char kRecordPassPhrase[] = "Tarnel";

// Uninstall entries are named this prefix + the software name, under one of
// these keys of HKEY_LOCAL_MACHINE (the 32-bit view on 64-bit Windows).
inline constexpr char kUninstallKeyPrefix[] = "Tarnel";
inline constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr char kUninstallKey32On64[] = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

}  // namespace installer::format
