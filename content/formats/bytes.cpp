#include "content/formats/bytes.h"

#include <cstdio>
#include <cstring>

namespace content {

ByteWriter& ByteWriter::U32(std::uint32_t v) {
  const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
  mBytes.append(b, 4);
  return *this;
}

ByteWriter& ByteWriter::U16(std::uint16_t v) {
  const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  mBytes.append(b, 2);
  return *this;
}

ByteWriter& ByteWriter::Float(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return U32(bits);
}

ByteWriter& ByteWriter::String(const std::string& s) {
  Int(static_cast<std::int32_t>(s.size()));
  mBytes += s;
  return *this;
}

ByteWriter& ByteWriter::Raw(const void* p, std::size_t n) {
  mBytes.append(static_cast<const char*>(p), n);
  return *this;
}

bool ByteWriter::Save(const std::string& path) const { return SaveBytes(path, mBytes); }

bool SaveBytes(const std::string& path, const std::string& bytes) {
  // Written beside the target and renamed over it, so that a failed write
  // never leaves a half-written file under the real name.
  const std::string temporary = path + ".tmp";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

}  // namespace content
