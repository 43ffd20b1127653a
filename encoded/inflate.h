// Inflating zlib streams: the one place that calls zlib and libdeflate.
//
// A compressed frame is decoded with one zlib inflate call into a buffer of
// the frame's content size. That call succeeds on "ok" or "stream end", so a
// stream that yields fewer bytes than the room succeeds (the rest is zero),
// and one that yields more fills the room and succeeds as well. libdeflate
// inflates about twice as fast but judges streams differently, so its output
// is kept only when it is surely what zlib would produce: success, every input
// byte consumed and exactly the room filled. Anything else is decoded again
// with zlib, whose outcome stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrine {

// One zlib inflate call over `in` into `out`. Returns 0, 1392 (damaged
// stream, or zlib could not start) or 8 (zlib's state or window could not
// be allocated). `produced` is the byte count written
// (0 on failure); every byte of `out` behind it is set to zero.
[[nodiscard]] uint32_t InflateWithZlib(std::span<const uint8_t> in, std::span<uint8_t> out,
                                       size_t* produced = nullptr);

// Same result as InflateWithZlib, libdeflate first. Uses one libdeflate
// decompressor per thread.
[[nodiscard]] uint32_t InflateFrame(std::span<const uint8_t> in, std::span<uint8_t> out,
                                    size_t* produced = nullptr);

}  // namespace kestrine
