#include "common/path_builder.h"

#include <cstring>
#include <functional>
#include <utility>

namespace kestrine {

PathBuilder::PathBuilder(const PathBuilder& other) {
  AppendRaw(other.view());
}

PathBuilder::PathBuilder(PathBuilder&& other) noexcept {
  *this = std::move(other);
}

PathBuilder& PathBuilder::operator=(const PathBuilder& other) {
  if (this != &other) {
    Clear();
    AppendRaw(other.view());
  }
  return *this;
}

PathBuilder& PathBuilder::operator=(PathBuilder&& other) noexcept {
  if (this == &other) return *this;
  if (other.heap_) {
    heap_ = std::move(other.heap_);
    capacity_ = other.capacity_;
  } else {
    heap_.reset();
    capacity_ = kInlineCapacity;
    std::memcpy(inline_, other.inline_, other.size_ + 1);
  }
  size_ = other.size_;
  other.capacity_ = kInlineCapacity;
  other.Clear();
  return *this;
}

void PathBuilder::Clear() {
  size_ = 0;
  data()[0] = '\0';
}

void PathBuilder::Reserve(size_t length) {
  if (length < capacity_) return;
  size_t capacity = capacity_;
  while (capacity <= length) capacity *= 2;
  auto grown = std::make_unique<char[]>(capacity);
  std::memcpy(grown.get(), data(), size_ + 1);
  heap_ = std::move(grown);
  capacity_ = capacity;
}

PathBuilder& PathBuilder::Append(std::string_view component) {
  if (size_ != 0) AppendRaw("\\");
  return AppendRaw(component);
}

PathBuilder& PathBuilder::AppendRaw(std::string_view text) {
  // `text` may be a view of this builder, which growing would free.
  const char* old = data();
  bool aliased = std::less_equal<>{}(old, text.data()) && std::less<>{}(text.data(), old + size_);
  size_t aliasOffset = aliased ? static_cast<size_t>(text.data() - old) : 0;
  Reserve(size_ + text.size());
  if (aliased) text = {data() + aliasOffset, text.size()};
  char* out = data() + size_;
  for (char c : text) *out++ = (c == '/') ? '\\' : c;
  *out = '\0';
  size_ += text.size();
  return *this;
}

std::string CombinePath(std::initializer_list<std::string_view> components) {
  PathBuilder builder;
  for (std::string_view component : components) builder.Append(component);
  return builder.str();
}

}  // namespace kestrine
