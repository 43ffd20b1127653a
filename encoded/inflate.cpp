#include "encoded/inflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <memory>

#include "common/raw_allocation.h"
#include "kestrine.h"

namespace kestrine {

namespace {

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Made on first use; a thread that could not have one once tries again
// rather than falling back to zlib for good.
libdeflate_decompressor* ThreadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor;
  if (!decompressor) decompressor.reset(libdeflate_alloc_decompressor());
  return decompressor.get();
}

uint32_t Finish(std::span<uint8_t> out, size_t count, size_t* produced, uint32_t error) {
  if (error != kErrorSuccess) count = 0;
  if (out.size() > count) std::memset(out.data() + count, 0, out.size() - count);
  if (produced != nullptr) *produced = count;
  return error;
}

// zlib takes its state and window through the library's raw allocations.
voidpf ZlibAllocate(voidpf, uInt items, uInt size) {
  return AllocateZeroed(items, size);
}

void ZlibFree(voidpf, voidpf block) {
  FreeAllocation(block);
}

// zlib runs out of memory for its state or its window: not a fault of the
// frame.
uint32_t InflateError(int zlibResult) {
  return zlibResult == Z_MEM_ERROR ? kErrorNotEnoughMemory : kErrorFileCorrupt;
}

// True when libdeflate alone gives the result zlib would give.
bool InflateWithLibdeflate(std::span<const uint8_t> in, std::span<uint8_t> out) {
  libdeflate_decompressor* decompressor = ThreadDecompressor();
  if (decompressor == nullptr) return false;
  size_t consumed = 0;
  size_t written = 0;
  libdeflate_result result = libdeflate_zlib_decompress_ex(
      decompressor, in.data(), in.size(), out.data(), out.size(), &consumed, &written);
  return result == LIBDEFLATE_SUCCESS && consumed == in.size() && written == out.size();
}

}  // namespace

uint32_t InflateWithZlib(std::span<const uint8_t> in, std::span<uint8_t> out, size_t* produced) {
  uint8_t noRoom = 0;  // zlib refuses a null output pointer even for no room
  z_stream stream{};
  stream.zalloc = ZlibAllocate;
  stream.zfree = ZlibFree;
  stream.next_in = const_cast<Bytef*>(in.data());
  stream.avail_in = static_cast<uInt>(in.size());
  stream.next_out = out.empty() ? &noRoom : out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int result = inflateInit(&stream);
  if (result != Z_OK) return Finish(out, 0, produced, InflateError(result));
  result = inflate(&stream, Z_NO_FLUSH);
  size_t count = stream.total_out;
  inflateEnd(&stream);
  bool ok = result == Z_OK || result == Z_STREAM_END;
  return Finish(out, count, produced, ok ? kErrorSuccess : InflateError(result));
}

uint32_t InflateFrame(std::span<const uint8_t> in, std::span<uint8_t> out, size_t* produced) {
  if (!out.empty() && InflateWithLibdeflate(in, out)) {
    if (produced != nullptr) *produced = out.size();
    return kErrorSuccess;
  }
  return InflateWithZlib(in, out, produced);
}

}  // namespace kestrine
