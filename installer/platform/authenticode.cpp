#include "installer/platform/authenticode.h"

namespace installer {

bool chain_whole(unsigned long chain_errors) {
  // CERT_TRUST_IS_NOT_TIME_VALID, _IS_NOT_TIME_NESTED, _CTL_IS_NOT_TIME_VALID,
  // _REVOCATION_STATUS_UNKNOWN, _IS_OFFLINE_REVOCATION (wincrypt.h).
  const unsigned long kNotCounted = 0x1 | 0x2 | 0x2000 | 0x40 | 0x1000000;
  return (chain_errors & ~kNotCounted) == 0;
}

}  // namespace installer
