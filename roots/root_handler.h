// TRootHandler: how a storage maps names and file ids to content entries.
#pragma once

namespace kestrine {

class TRootHandler {
 public:
  virtual ~TRootHandler() = default;
};

}  // namespace kestrine
