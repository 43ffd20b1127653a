// Sound-table parser: any bytes either parse or raise the import's error.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "tool/sound_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kestrine::kMaxSoundTableSize) return 0;
  try {
    kestrine::SoundSet wanted = kestrine::ParseSoundTable({data, size});
    for (const std::string& name : wanted) {
      if (!name.starts_with("sound/")) __builtin_trap();
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
