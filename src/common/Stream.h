// Byte streams. The restore engine and the text readers take a TStream, not a
// path, so tests and the fuzzer feed them memory and the platform feeds them
// files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oup {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read, 0 only at the
    // end. A read the system refuses raises EReadError: taking it for the end
    // would cut a script or a language file short without a word.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    // Moves the position; returns the new position, or -1 when refused.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position);
    int64_t Size();

    // Reading or writing fewer bytes than asked raises EReadError / EWriteError.
    void ReadBuffer(void* buffer, size_t count);
    void WriteBuffer(const void* buffer, size_t count);
    int32_t ReadInt32();  // little-endian
    void WriteInt32(int32_t value);
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
    size_t position_ = 0;
};

// A read-only view of bytes owned by someone else (the fuzzer's input).
class TSpanStream : public TStream {
public:
    TSpanStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void*, size_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// An open file. The platform creates these; closing is the destructor.
class TFileStream : public TStream {
public:
    // Sets the file's last-write time from a DOS date-time in local time.
    // Returns false when the value names no valid time or the system refuses.
    virtual bool SetLastWriteDos(int32_t dosDateTime) = 0;
    // Makes the file end at the current position (used by tools that rewrite).
    virtual bool Truncate() = 0;
};

}  // namespace oup
