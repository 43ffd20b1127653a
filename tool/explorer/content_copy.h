// Copies a file's decoded content to a sink in pieces, exactly: a read that
// fails or gives fewer bytes than asked ends the copy, and so does content
// whose MD5 is not the file's content key. The storage's reading rules are
// lenient (a truncated archive reads as zeros, an unchecked frame may
// inflate to other bytes); the key is not. Nothing of a failed read reaches
// the sink.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "kestrine.hpp"

namespace kestrine::explorer {

// Takes the next piece; false stops the copy.
using ContentSink = std::function<bool(std::span<const uint8_t>)>;

struct CopyResult {
  uint32_t error = kErrorSuccess;  // the storage's error number; 0 when none
  bool sinkFailed = false;         // the sink refused a piece
  uint64_t bytes = 0;              // bytes handed to the sink
  bool ok() const { return error == kErrorSuccess && !sinkFailed; }
};

// Opens `name` in `storage` and copies its content. A content mismatch, or
// a short read that gives no reason, is error 1392.
CopyResult CopyFileContent(const Storage& storage, const char* name, const ContentSink& sink);

}  // namespace kestrine::explorer
