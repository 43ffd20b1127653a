// Builds local paths without heap allocation in the common case. Internal
// paths always use '\\' as the separator; the platform layer converts them.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace kestrine {

class PathBuilder {
 public:
  // Characters held without allocating, the terminating NUL included.
  static constexpr size_t kInlineCapacity = 260;

  PathBuilder() = default;
  PathBuilder(const PathBuilder& other);
  PathBuilder(PathBuilder&& other) noexcept;
  PathBuilder& operator=(const PathBuilder& other);
  PathBuilder& operator=(PathBuilder&& other) noexcept;
  ~PathBuilder() = default;

  // Appends a path component, preceded by '\\' unless the builder is empty.
  // '/' and '\\' inside the component are written as '\\'.
  PathBuilder& Append(std::string_view component);
  // Appends text with no separator added; '/' and '\\' are written as '\\'.
  PathBuilder& AppendRaw(std::string_view text);

  const char* c_str() const { return data(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data(), size_}; }
  std::string str() const { return std::string(view()); }
  void Clear();

 private:
  char* data() { return heap_ ? heap_.get() : inline_; }
  const char* data() const { return heap_ ? heap_.get() : inline_; }
  // Makes room for `length` characters plus the NUL.
  void Reserve(size_t length);

  char inline_[kInlineCapacity] = {};
  std::unique_ptr<char[]> heap_;
  size_t capacity_ = kInlineCapacity;
  size_t size_ = 0;
};

// Joins the components as successive PathBuilder::Append calls would.
std::string CombinePath(std::initializer_list<std::string_view> components);

}  // namespace kestrine
