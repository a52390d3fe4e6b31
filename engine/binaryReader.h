#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace engine::io {

// Bounded little-endian reader over a file or a memory block. Every read is
// checked against the bytes that remain, so a corrupt count can neither read
// past the end nor make a caller allocate more than the input could hold.
class BinaryReader {
 public:
  // Reads from memory; the block must outlive the reader.
  BinaryReader(const void* data, std::size_t size);
  // Reads from a file; Ok() is false when it cannot be opened.
  explicit BinaryReader(const std::string& path);
  ~BinaryReader();
  BinaryReader(const BinaryReader&) = delete;
  BinaryReader& operator=(const BinaryReader&) = delete;

  bool Ok() const { return mOpened; }
  std::uint64_t Remaining() const { return mSize - mPos; }

  // Each returns false, consuming nothing, when fewer bytes remain.
  bool Read(void* destination, std::uint64_t bytes);
  bool Skip(std::uint64_t bytes);
  bool ReadInt32(std::int32_t& value);

 private:
  std::FILE* mFile = nullptr;
  const unsigned char* mData = nullptr;
  std::uint64_t mSize = 0;
  std::uint64_t mPos = 0;
  bool mOpened = true;
};

}  // namespace engine::io
