// The record cipher: the configuration record and the installed-file list are
// RC4-encrypted with the key that CryptoAPI's Base provider derives from a
// pass phrase (MD5 of the phrase, its first five bytes, eleven zero bytes of
// salt). Computed here without CryptoAPI, so it gives the same bytes on every
// system and in the builder tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "installer/format/format.h"
#include "runtime/value/value.h"

namespace installer {

// Used when a caller does not ask for its own phrase.
inline constexpr char kDefaultPassPhrase[] = "qtz.482.vm";

// Encrypts or decrypts (RC4 is its own inverse) n bytes in place.
void record_cipher(const rt::Text& pass_phrase, std::uint8_t* data, std::size_t n);

// The decrypted record as a text, cut at its first zero byte; empty data
// gives an empty text.
rt::Text decrypt_record(const rt::Bytes& data, const rt::Text& pass_phrase, bool use_given_phrase);
// The text's bytes encrypted, as many as the text has; empty gives empty.
rt::Bytes encrypt_text(const rt::Text& text, const rt::Text& pass_phrase, bool use_given_phrase);

}  // namespace installer
