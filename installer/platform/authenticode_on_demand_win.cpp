// Authenticode through wintrust.dll and crypt32.dll, loaded on first use from
// the system folder by their full paths: neither is a known DLL, so as static
// imports Windows would look for them beside the program first (the
// Downloads folder). crypt32 goes first, so that wintrust's own import of it
// finds it in the process; Wine's loader resolves a system library's imports
// with the search path the process started with, whatever was restricted.
// The functions are resolved here by name: wintrust.h declares its functions
// without import slots, so the convention of wininet_on_demand_win.cpp (our
// slots under the import names) has nothing to stand in for.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "installer/platform/authenticode.h"
#include "installer/platform/library_search.h"
#include "runtime/value/codepage.h"

namespace installer {

namespace {

struct TrustCalls {
  decltype(&WinVerifyTrust) verify = nullptr;
  decltype(&WTHelperProvDataFromStateData) provider_data = nullptr;
  decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
  decltype(&CertGetNameStringW) name = nullptr;
  decltype(&CertGetCertificateContextProperty) property = nullptr;
  bool ok() const { return verify && provider_data && signer && name && property; }
};

template <typename F>
void resolve(HMODULE module, const char* name, F* f) {
  *f = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const TrustCalls& trust_calls() {
  static TrustCalls calls = [] {
    TrustCalls c;
    // Loaded for good: the verification may run again on "重新安装".
    HMODULE crypt32 = LoadLibraryExW(system_file(L"crypt32.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    // Revocation from the cache still goes through crypt32's revocation
    // provider, which it loads by bare name.
    LoadLibraryExW(system_file(L"cryptnet.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    HMODULE wintrust = crypt32 ? LoadLibraryExW(system_file(L"wintrust.dll").c_str(), nullptr,
                                                LOAD_WITH_ALTERED_SEARCH_PATH)
                               : nullptr;
    resolve(wintrust, "WinVerifyTrust", &c.verify);
    resolve(wintrust, "WTHelperProvDataFromStateData", &c.provider_data);
    resolve(wintrust, "WTHelperGetProvSignerFromChain", &c.signer);
    resolve(crypt32, "CertGetNameStringW", &c.name);
    resolve(crypt32, "CertGetCertificateContextProperty", &c.property);
    return c;
  }();
  return calls;
}

std::string hex_upper(const BYTE* data, DWORD n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (DWORD i = 0; i < n; ++i) {
    s += kDigits[data[i] >> 4];
    s += kDigits[data[i] & 15];
  }
  return s;
}

// The signer and the root of the chain WinVerifyTrust built, read from its
// state (kept until WTD_STATEACTION_CLOSE).
void read_chain(const TrustCalls& calls, HANDLE state, SignatureFacts* facts) {
  CRYPT_PROVIDER_DATA* data = state ? calls.provider_data(state) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = data ? calls.signer(data, 0, FALSE, 0) : nullptr;
  const CERT_CHAIN_CONTEXT* chain = signer ? signer->pChainContext : nullptr;
  if (!chain || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return;
  facts->chain_errors = chain->TrustStatus.dwErrorStatus;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  PCCERT_CONTEXT leaf = simple->rgpElement[0]->pCertContext;
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  wchar_t name[256] = {};
  if (calls.name(leaf, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, 256) > 1)
    facts->signer = rt::cp936_from_wchar(name);
  BYTE sha1[20];
  DWORD n = sizeof sha1;
  if (calls.property(root, CERT_SHA1_HASH_PROP_ID, sha1, &n) && n == sizeof sha1) facts->root_sha1 = hex_upper(sha1, n);
}

}  // namespace

SignatureFacts verify_file_signature(void* file, const std::u16string& path) {
  SignatureFacts facts;
  facts.status = LONG(TRUST_E_PROVIDER_UNKNOWN);
  const TrustCalls& calls = trust_calls();
  if (!calls.ok()) return facts;

  WINTRUST_FILE_INFO info = {};
  info.cbStruct = sizeof info;
  info.pcwszFilePath = reinterpret_cast<const wchar_t*>(path.c_str());
  info.hFile = static_cast<HANDLE>(file);
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // The machine may be offline: what the cache knows of revocation counts,
  // nothing is fetched.
  data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // INVALID_HANDLE_VALUE: there is nobody to ask.
  HWND nobody = reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
  facts.status = calls.verify(nobody, &action, &data);
  facts.verified = facts.status == ERROR_SUCCESS;
  read_chain(calls, data.hWVTStateData, &facts);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  calls.verify(nobody, &action, &data);
  return facts;
}

}  // namespace installer
