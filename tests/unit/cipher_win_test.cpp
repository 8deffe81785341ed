// The portable record cipher against the real thing: CryptoAPI's Base
// provider, exactly as records made with it were sealed.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "installer/format/cipher.h"

namespace {

std::string crypto_api_encrypt(const std::string& phrase, std::string data) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, "", MS_DEF_PROV_A, PROV_RSA_FULL, 0) &&
      !CryptAcquireContextA(&prov, "", MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return "no context";
  HCRYPTHASH hash = 0;
  HCRYPTKEY key = 0;
  CryptCreateHash(prov, CALG_MD5, 0, 0, &hash);
  CryptHashData(hash, reinterpret_cast<const BYTE*>(phrase.data()), DWORD(phrase.size()), 0);
  CryptDeriveKey(prov, CALG_RC4, hash, 0, &key);
  CryptDestroyHash(hash);
  DWORD n = DWORD(data.size());
  BOOL ok = CryptEncrypt(key, 0, TRUE, 0, reinterpret_cast<BYTE*>(data.data()), &n, n);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
  return ok ? data : "failed";
}

TEST(RecordCipherWinTest, AgreesWithCryptoApiOnRandomTextsAndPhrases) {
  std::mt19937 rng(20241207);
  for (int round = 0; round < 200; ++round) {
    std::string phrase(rng() % 24, '\0');
    for (char& c : phrase) c = char(1 + rng() % 255);
    std::string text(1 + rng() % 700, '\0');
    for (char& c : text) c = char(1 + rng() % 255);  // texts hold no zero byte
    std::string expected = crypto_api_encrypt(phrase, text);
    rt::Bytes ours = installer::encrypt_text(rt::Text(text), rt::Text(phrase), true);
    ASSERT_EQ(std::string(ours.view()), expected) << "round " << round;
    EXPECT_EQ(installer::decrypt_record(ours, rt::Text(phrase), true).str(), text);
  }
  EXPECT_EQ(std::string(installer::encrypt_text("Foo", "", false).view()), crypto_api_encrypt("qtz.482.vm", "Foo"));
}

}  // namespace
