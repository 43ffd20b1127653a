// Bob Jenkins' lookup3 hashes, bit-exact with hashlittle/hashlittle2 of
// lookup3.c on a little-endian machine. Used for file-name hashes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrine {

uint32_t hashlittle(const void* key, size_t length, uint32_t initval);

// Two 32-bit hashes at once. *pc and *pb are the seeds on entry (pc primary,
// pb secondary) and the hashes on return; *pc equals hashlittle(key, length, *pc)
// when *pb is 0.
void hashlittle2(const void* key, size_t length, uint32_t* pc, uint32_t* pb);

}  // namespace kestrine
