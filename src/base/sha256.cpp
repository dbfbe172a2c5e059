#include "base/sha256.h"

// libcrypto's direct SHA-256 functions rather than its algorithm-fetching interface: the first fetch loads and
// initializes the library's providers, about 2 MB of memory in every process that hashes anything (every `run`
// does, for shape hashes). The direct functions are marked deprecated, with nothing but the fetching interface to
// replace them; they compute the same digest and cannot fail.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace dravelin {

std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, bytes.data(), bytes.size());
  SHA256_Final(digest, &context);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * SHA256_DIGEST_LENGTH);
  for (const unsigned char byte : digest) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0f]);
  }
  return out;
}

}  // namespace dravelin
