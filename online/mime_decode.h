// The content transfer encodings of MIME bodies (RFC 2045): base64 and
// quoted-printable. Both decoders are strict where a damaged body could pass
// for data: a character outside the encoding's alphabet is a bad format, not
// something to skip silently.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrine {

enum class MimeEncoding { kNone, kBase64, kQuotedPrintable };

// Base64 of the standard alphabet ('+' is 62, '/' is 63). Decoding stops at
// the first '='; bytes 1 to 32 (control characters and the space, so line
// breaks too) are skipped; NUL, bytes of 128 and above and any other
// character are 11. Bits left over at the end that do not make a whole byte
// are dropped. Appends to `out`.
[[nodiscard]] uint32_t DecodeBase64(std::string_view text, std::vector<uint8_t>& out);

// Quoted-printable: "=XY" with two hexadecimal digits of either case is the
// byte 0xXY, "=" before CR LF is a soft line break and yields nothing, any
// other byte stands for itself. An "=" followed by anything else, the end of
// the text included, is 11. Appends to `out`.
[[nodiscard]] uint32_t DecodeQuotedPrintable(std::string_view text, std::vector<uint8_t>& out);

// Decodes `text` in the given encoding (kNone copies it) into `out`, which
// is replaced. 8 when the output cannot be allocated.
[[nodiscard]] uint32_t DecodeMimeBody(MimeEncoding encoding, std::string_view text,
                                      std::vector<uint8_t>& out);

}  // namespace kestrine
