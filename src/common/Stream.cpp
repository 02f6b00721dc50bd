#include "common/Stream.h"

#include <algorithm>
#include <cstring>

#include "common/Errors.h"

namespace oup {

void TStream::SetPosition(int64_t position) {
    if (Seek(position, TSeekOrigin::soBeginning) != position) throw EReadError(kReadErrorText);
}

int64_t TStream::Size() {
    const int64_t here = Position();
    const int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(here, TSeekOrigin::soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t got = Read(out + done, count - done);
        if (got == 0) throw EReadError(kReadErrorText);
        done += got;
    }
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t put = Write(in + done, count - done);
        if (put == 0) throw EWriteError(kWriteErrorText);
        done += put;
    }
}

int32_t TStream::ReadInt32() {
    uint8_t b[4];
    ReadBuffer(b, 4);
    return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                uint32_t(b[3]) << 24);
}

void TStream::WriteInt32(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    WriteBuffer(b, 4);
}

namespace {
int64_t Reposition(int64_t offset, TSeekOrigin origin, size_t position, size_t size) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = static_cast<int64_t>(position);
    if (origin == TSeekOrigin::soEnd) base = static_cast<int64_t>(size);
    const int64_t target = base + offset;
    // A position the size_t cannot hold (past 4 GiB on 32-bit) is refused
    // rather than wrapped to a small one.
    if (target < 0 || static_cast<uint64_t>(target) > SIZE_MAX) return -1;
    return target;
}
}  // namespace

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (position_ >= data_.size()) return 0;
    const size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t target = Reposition(offset, origin, position_, data_.size());
    if (target >= 0) position_ = static_cast<size_t>(target);
    return target;
}

size_t TSpanStream::Read(void* buffer, size_t count) {
    if (position_ >= size_) return 0;
    const size_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

int64_t TSpanStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t target = Reposition(offset, origin, position_, size_);
    if (target >= 0) position_ = static_cast<size_t>(target);
    return target;
}

}  // namespace oup
