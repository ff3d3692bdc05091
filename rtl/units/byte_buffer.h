// A growable run of bytes that reports a failed allocation as a value: nothing may be thrown across the
// record layer, so its record buffers and record areas cannot be standard containers.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace rtl {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~ByteBuffer() { std::free(data_); }

  // Makes the buffer `size` bytes long, keeping its contents and filling new bytes with `fill`. On
  // failure the buffer is left exactly as it was and false is returned.
  bool resize(std::size_t size, char fill = '\0') {
    const std::size_t old_size = size_;
    if (!resize_unfilled(size)) return false;
    if (size > old_size) std::memset(data_ + old_size, fill, size - old_size);
    return true;
  }

  // The same without filling the new bytes: for a buffer whose bytes are always written before they are
  // read (the input buffer, the output block), as filling a quarter of a megabyte costs as much as
  // repairing a small file's lines.
  bool resize_unfilled(std::size_t size) {
    if (size <= size_) {
      size_ = size;
      return true;
    }
    void* grown = std::realloc(data_, size);
    if (grown == nullptr) return false;
    data_ = static_cast<char*>(grown);
    size_ = size;
    return true;
  }

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char& operator[](std::size_t i) { return data_[i]; }
  char operator[](std::size_t i) const { return data_[i]; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace rtl
