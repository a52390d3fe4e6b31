#pragma once

// Little-endian byte building shared by every writer of this library.
#include <cstddef>
#include <cstdint>
#include <string>

namespace content {

struct Vec2 {
  float x = 0, y = 0;
};

struct Vec3 {
  float x = 0, y = 0, z = 0;
};

struct Vec4 {
  float x = 0, y = 0, z = 0, w = 0;
};

class ByteWriter {
 public:
  ByteWriter& Int(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
  ByteWriter& U32(std::uint32_t v);
  ByteWriter& U16(std::uint16_t v);
  ByteWriter& Float(float v);
  ByteWriter& Vector(const Vec3& v) { return Float(v.x).Float(v.y).Float(v.z); }
  // A 32-bit byte count, then the bytes, no terminator.
  ByteWriter& String(const std::string& s);
  ByteWriter& Raw(const void* p, std::size_t n);

  const std::string& Bytes() const { return mBytes; }
  std::string& Bytes() { return mBytes; }
  // False when the file cannot be written completely.
  bool Save(const std::string& path) const;

 protected:
  std::string mBytes;
};

// Writes bytes to a file, first beside it and then renamed over it; false on
// any failure, and then the file is as it was.
bool SaveBytes(const std::string& path, const std::string& bytes);

}  // namespace content
