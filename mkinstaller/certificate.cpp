#include "mkinstaller/certificate.h"

#include <cstdio>
#include <string_view>

#include "runtime/value/codepage.h"

namespace mkinstaller {

namespace {

// One DER element: its tag, its content, and the whole encoding.
struct Element {
  unsigned char tag = 0;
  std::string_view content, whole;
};

// Reads the element at the start of `in` and moves past it. Definite
// lengths only: Authenticode signatures are DER.
bool next(std::string_view& in, Element* e) {
  if (in.size() < 2) return false;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
  e->tag = byte(0);
  if ((e->tag & 0x1F) == 0x1F) return false;  // tags this large appear in no certificate
  std::size_t length = byte(1), at = 2;
  if (length & 0x80) {
    std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || in.size() < 2 + count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | byte(2 + i);
    at += count;
  }
  if (length > in.size() - at) return false;
  e->content = in.substr(at, length);
  e->whole = in.substr(0, at + length);
  in.remove_prefix(at + length);
  return true;
}

// The next element, which must carry `tag`.
bool expect(std::string_view& in, unsigned char tag, Element* e) { return next(in, e) && e->tag == tag; }

constexpr unsigned char kInteger = 0x02, kBitString = 0x03, kOctetString = 0x04, kOid = 0x06, kBoolean = 0x01;
constexpr unsigned char kSequence = 0x30, kSet = 0x31, kContext0 = 0xA0, kContext3 = 0xA3;
constexpr unsigned char kUtcTime = 0x17, kGeneralizedTime = 0x18;

const std::string_view kSignedData("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9);  // 1.2.840.113549.1.7.2
const std::string_view kCommonName("\x55\x04\x03", 3);                         // 2.5.4.3
const std::string_view kKeyUsage("\x55\x1D\x0F", 3);                           // 2.5.29.15
const std::string_view kExtendedKeyUsage("\x55\x1D\x25", 3);                   // 2.5.29.37
const std::string_view kAnyExtendedKeyUsage("\x55\x1D\x25\x00", 4);            // 2.5.29.37.0
const std::string_view kCodeSigning("\x2B\x06\x01\x05\x05\x07\x03\x03", 8);    // 1.3.6.1.5.5.7.3.3

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool read_time(const Element& e, std::int64_t* seconds) {
  std::string_view t = e.content;
  std::size_t year_digits = e.tag == kUtcTime ? 2 : e.tag == kGeneralizedTime ? 4 : 0;
  if (!year_digits || t.size() < year_digits + 11 || t.back() != 'Z') return false;
  auto number = [&](std::size_t at, std::size_t n, int* v) {
    *v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      *v = *v * 10 + (t[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second;
  std::size_t at = year_digits;
  if (!number(0, year_digits, &year) || !number(at, 2, &month) || !number(at + 2, 2, &day) ||
      !number(at + 4, 2, &hour) || !number(at + 6, 2, &minute) || !number(at + 8, 2, &second))
    return false;
  if (year_digits == 2) year += year < 50 ? 2000 : 1900;  // RFC 5280
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  *seconds = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
             minute * 60 + second;
  return true;
}

// The common name of a Name, UTF-8.
std::string common_name(std::string_view name) {
  Element rdn;
  while (next(name, &rdn)) {
    std::string_view set = rdn.content;
    Element pair;
    while (next(set, &pair)) {
      std::string_view in = pair.content;
      Element oid, value;
      if (!expect(in, kOid, &oid) || oid.content != kCommonName || !next(in, &value)) continue;
      if (value.tag != 0x1E) return std::string(value.content);  // UTF8String, PrintableString, ...
      std::u16string wide;                                     // BMPString: UTF-16 big-endian
      for (std::size_t i = 0; i + 1 < value.content.size(); i += 2)
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(value.content[i]) << 8 |
                                             static_cast<unsigned char>(value.content[i + 1])));
      return rt::utf8_from_wide(wide);
    }
  }
  return "";
}

void read_extension(std::string_view extension, SignerCertificate* c) {
  Element oid, value;
  if (!expect(extension, kOid, &oid)) return;
  Element critical;
  std::string_view rest = extension;
  if (next(rest, &critical) && critical.tag == kBoolean) extension = rest;
  if (!expect(extension, kOctetString, &value)) return;
  std::string_view inner = value.content;
  Element body;
  if (oid.content == kExtendedKeyUsage && expect(inner, kSequence, &body)) {
    c->has_extended_usage = true;
    std::string_view purposes = body.content;
    Element purpose;
    while (expect(purposes, kOid, &purpose))
      c->code_signing |= purpose.content == kCodeSigning || purpose.content == kAnyExtendedKeyUsage;
  } else if (oid.content == kKeyUsage && expect(inner, kBitString, &body)) {
    c->has_key_usage = true;
    // The first content byte counts the unused bits; digitalSignature is bit 0.
    c->digital_signature = body.content.size() >= 2 && (static_cast<unsigned char>(body.content[1]) & 0x80) != 0;
  }
}

// Reads a certificate whose issuer and serial number are given.
bool read_certificate(std::string_view certificate, std::string_view issuer, std::string_view serial,
                      SignerCertificate* c) {
  Element cert, tbs, e;
  if (!expect(certificate, kSequence, &cert)) return false;
  std::string_view in = cert.content;
  if (!expect(in, kSequence, &tbs)) return false;
  std::string_view t = tbs.content;
  std::string_view peek = t;
  if (next(peek, &e) && e.tag == kContext0) t = peek;  // the version
  Element serial_number, algorithm, issuer_name, validity, subject;
  if (!expect(t, kInteger, &serial_number) || !expect(t, kSequence, &algorithm) ||
      !expect(t, kSequence, &issuer_name) || !expect(t, kSequence, &validity) || !expect(t, kSequence, &subject))
    return false;
  if (serial_number.whole != serial || issuer_name.whole != issuer) return false;
  std::string_view times = validity.content;
  Element from, to;
  if (!next(times, &from) || !next(times, &to) || !read_time(from, &c->not_before) || !read_time(to, &c->not_after))
    return false;
  c->subject = common_name(subject.content);
  if (c->subject.empty()) c->subject = "(no name)";
  while (next(t, &e)) {
    if (e.tag != kContext3) continue;
    std::string_view list = e.content;
    Element extensions, extension;
    if (!expect(list, kSequence, &extensions)) break;
    std::string_view each = extensions.content;
    while (expect(each, kSequence, &extension)) read_extension(extension.content, c);
  }
  return true;
}

}  // namespace

bool signer_certificate(const std::string& table, SignerCertificate* c, std::string* why) {
  *why = "the signature cannot be read (not a PKCS#7 SignedData)";
  // WIN_CERTIFICATE: dwLength, wRevision, wCertificateType (2: PKCS#7), the data.
  if (table.size() < 8 || table[6] != 2 || table[7] != 0) return false;
  std::size_t length = static_cast<unsigned char>(table[0]) | static_cast<unsigned char>(table[1]) << 8 |
                       static_cast<std::size_t>(static_cast<unsigned char>(table[2])) << 16 |
                       static_cast<std::size_t>(static_cast<unsigned char>(table[3])) << 24;
  if (length < 8 || length > table.size()) return false;
  std::string_view in = std::string_view(table).substr(8, length - 8);
  Element content_info, oid, explicit_content, signed_data, e;
  if (!expect(in, kSequence, &content_info)) return false;
  in = content_info.content;
  if (!expect(in, kOid, &oid) || oid.content != kSignedData || !expect(in, kContext0, &explicit_content)) return false;
  in = explicit_content.content;
  if (!expect(in, kSequence, &signed_data)) return false;
  in = signed_data.content;
  Element version, digests, content, certificates, signer_infos;
  if (!expect(in, kInteger, &version) || !expect(in, kSet, &digests) || !expect(in, kSequence, &content)) return false;
  if (!expect(in, kContext0, &certificates)) {
    *why = "the signature carries no certificate";
    return false;
  }
  do {
    if (!next(in, &signer_infos)) return false;
  } while (signer_infos.tag != kSet);
  std::string_view infos = signer_infos.content;
  Element info, info_version, issuer_and_serial, issuer, serial;
  if (!expect(infos, kSequence, &info)) return false;
  std::string_view i = info.content;
  if (!expect(i, kInteger, &info_version) || !expect(i, kSequence, &issuer_and_serial)) return false;
  std::string_view id = issuer_and_serial.content;
  if (!expect(id, kSequence, &issuer) || !expect(id, kInteger, &serial)) return false;
  std::string_view each = certificates.content;
  while (next(each, &e))
    if (read_certificate(e.whole, issuer.whole, serial.whole, c)) return true;
  *why = "the signature does not carry its signer's certificate";
  return false;
}

std::string utc_text(std::int64_t seconds) {
  std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  std::int64_t rest = seconds - days * 86400;
  // Civil date from days since 1970-01-01.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:%02d UTC", static_cast<long long>(y), m, d,
                static_cast<int>(rest / 3600), static_cast<int>(rest % 3600 / 60));
  return text;
}

std::string code_signing_problem(const SignerCertificate& c, std::int64_t now) {
  const std::string who = "the certificate of \"" + c.subject + "\"";
  if (now < c.not_before) return who + " is not valid before " + utc_text(c.not_before);
  if (now > c.not_after) return who + " expired on " + utc_text(c.not_after);
  if (c.has_extended_usage && !c.code_signing)
    return who + " is not allowed for code signing (its extended key usage lacks codeSigning)";
  if (c.has_key_usage && !c.digital_signature)
    return who + " is not allowed for code signing (its key usage lacks digitalSignature)";
  return "";
}

}  // namespace mkinstaller
