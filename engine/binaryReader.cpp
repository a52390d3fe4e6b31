#include "engine/binaryReader.h"

#include <sys/stat.h>

#include <cstring>

namespace engine::io {

static_assert(sizeof(float) == 4 && sizeof(std::int32_t) == 4, "file formats use 32-bit fields");

BinaryReader::BinaryReader(const void* data, std::size_t size)
    : mData(static_cast<const unsigned char*>(data)), mSize(data == nullptr ? 0 : size) {}

BinaryReader::BinaryReader(const std::string& path) {
  mFile = std::fopen(path.c_str(), "rb");
  struct stat info {};
  if (mFile == nullptr || fstat(fileno(mFile), &info) != 0 || !S_ISREG(info.st_mode)) {
    if (mFile != nullptr) std::fclose(mFile);
    mFile = nullptr;
    mOpened = false;
    return;
  }
  mSize = static_cast<std::uint64_t>(info.st_size);
}

BinaryReader::~BinaryReader() {
  if (mFile != nullptr) std::fclose(mFile);
}

bool BinaryReader::Read(void* destination, std::uint64_t bytes) {
  if (!mOpened || bytes > Remaining()) return false;
  if (bytes == 0) return true;
  if (mFile != nullptr) {
    // A file that shrank since it was measured reads short: report it.
    if (std::fread(destination, 1, bytes, mFile) != bytes) {
      mPos = mSize;
      return false;
    }
  } else {
    std::memcpy(destination, mData + mPos, bytes);
  }
  mPos += bytes;
  return true;
}

bool BinaryReader::Skip(std::uint64_t bytes) {
  if (!mOpened || bytes > Remaining()) return false;
  if (mFile != nullptr && bytes > 0 &&
      std::fseek(mFile, static_cast<long>(mPos + bytes), SEEK_SET) != 0) {
    return false;
  }
  mPos += bytes;
  return true;
}

bool BinaryReader::ReadInt32(std::int32_t& value) { return Read(&value, sizeof value); }

}  // namespace engine::io
