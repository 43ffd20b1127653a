// FOR TESTS ONLY. The candidate keys and the nonce of encrypted archives are
// not shipped with this library, so no "mpqe-" stream opens in production.
// These hooks let a test encrypt an archive with a key of its own and read it
// back. The library itself never calls them.
#pragma once

#include <string_view>

namespace kestrine {

// Appends a candidate key (32 characters, used as the 32 key bytes) after the
// built-in ones. Any other length is ignored.
void AddEncryptedArchiveKeyForTesting(std::string_view key32);
// Replaces the 8-character nonce; any other length is ignored.
void SetEncryptedArchiveNonceForTesting(std::string_view nonce8);
// Drops the added keys and restores the built-in nonce.
void ResetEncryptedArchiveKeysForTesting();

}  // namespace kestrine
