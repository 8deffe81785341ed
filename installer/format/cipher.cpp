#include "installer/format/cipher.h"

#include <utility>

#include "installer/format/md5.h"

namespace installer {

namespace {

class Rc4 {
 public:
  Rc4(const std::uint8_t* key, std::size_t n) {
    for (int i = 0; i < 256; ++i) s_[i] = std::uint8_t(i);
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
      j = std::uint8_t(j + s_[i] + key[i % n]);
      std::swap(s_[i], s_[j]);
    }
  }
  void apply(std::uint8_t* p, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
      i_ = std::uint8_t(i_ + 1);
      j_ = std::uint8_t(j_ + s_[i_]);
      std::swap(s_[i_], s_[j_]);
      p[k] ^= s_[std::uint8_t(s_[i_] + s_[j_])];
    }
  }

 private:
  std::uint8_t s_[256];
  std::uint8_t i_ = 0, j_ = 0;
};

const rt::Text& phrase(const rt::Text& given, bool use_given) {
  static const rt::Text kDefault(kDefaultPassPhrase);
  return use_given ? given : kDefault;
}

}  // namespace

void record_cipher(const rt::Text& pass_phrase, std::uint8_t* data, std::size_t n) {
  auto digest = md5(pass_phrase.c_str(), pass_phrase.size());
  // The Base provider's CryptDeriveKey without flags: a 40-bit key padded
  // with eleven zero bytes of salt, so RC4 is keyed with 16 bytes.
  std::uint8_t key[16] = {};
  for (int i = 0; i < 5; ++i) key[i] = digest[i];
  Rc4(key, sizeof key).apply(data, n);
}

rt::Text decrypt_record(const rt::Bytes& data, const rt::Text& pass_phrase, bool use_given_phrase) {
  if (data.empty()) return {};
  rt::Bytes buffer = data;
  record_cipher(phrase(pass_phrase, use_given_phrase), buffer.data(), buffer.size());
  return rt::Text(buffer.view());  // a text ends at its first zero byte
}

rt::Bytes encrypt_text(const rt::Text& text, const rt::Text& pass_phrase, bool use_given_phrase) {
  if (text.empty()) return {};
  rt::Bytes buffer(text.view());
  record_cipher(phrase(pass_phrase, use_given_phrase), buffer.data(), buffer.size());
  return buffer;
}

}  // namespace installer
