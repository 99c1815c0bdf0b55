#include "memory_image.h"

#include <algorithm>
#include <cstring>

bool TMemoryImage::Seek(int64_t offset) {
    if (!IsOpen() || offset < 0) return false;
    position_ = offset;
    return true;
}

long TMemoryImage::Read(void* buffer, size_t count) {
    if (!IsOpen()) return -1;
    const int64_t size = Size();
    const size_t n = position_ >= size ? 0 : std::min<size_t>(count, size_t(size - position_));
    if (n) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return static_cast<long>(n);
}

bool TMemoryImage::Write(const void* buffer, size_t count) {
    if (mode_ != omReadWrite || !Reserve(position_, static_cast<int64_t>(count))) return false;
    if (count) std::memcpy(bytes_.data() + position_, buffer, count);
    position_ += static_cast<int64_t>(count);
    return true;
}

bool TMemoryImage::Reserve(int64_t offset, int64_t count) {
    return IsOpen() && offset >= 0 && count >= 0 && offset + count <= Size();
}
