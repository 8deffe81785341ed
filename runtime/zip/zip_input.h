// Where an archive's bytes come from: a file (runtime/zip/zip_fs.h opens
// one), memory, or anything else that reads at an offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rt {

// Random access to the archive's bytes.
class ZipInput {
 public:
  virtual ~ZipInput() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly n bytes at offset; false on any failure.
  virtual bool read_at(std::uint64_t offset, void* buffer, std::size_t n) = 0;
};

// An archive held in memory (tests, fuzzing).
class MemoryZipInput : public ZipInput {
 public:
  explicit MemoryZipInput(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override;

 private:
  std::string bytes_;
};

// Bytes that stay where they are (a resource of the loaded image): read in
// place, never copied whole.
class ViewZipInput : public ZipInput {
 public:
  ViewZipInput(const void* data, std::uint64_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override;

 private:
  const unsigned char* data_;
  std::uint64_t size_;
};

}  // namespace rt
