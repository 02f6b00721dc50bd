// Helpers for package tests: a user interface that records what it is asked,
// a byte-level package builder for packages no honest writer makes, and
// minimal PE headers.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/UserInterface.h"

namespace oup::test {

class TRecordingUserInterface : public TUserInterface {
public:
    struct TBox {
        std::string Text, Caption;
        TMsgKind Kind;
        TMsgButtons Buttons;
    };
    std::vector<TBox> Boxes;
    int Pumps = 0;
    // Answers given in turn; Ok once they run out.
    std::deque<TMsgResult> Answers;
    // Called as a box is shown, before it is answered (a test "inserts a disk").
    std::function<void(const TBox&)> OnBox;
    // Every call in order: "pump" or "box:<text>", for tests of ordering.
    std::vector<std::string>* Log = nullptr;

    void ProcessMessages() override;
    TMsgResult MessageBox(const std::string& text, const std::string& caption, TMsgKind kind,
                          TMsgButtons buttons) override;
};

// Builds package bytes piece by piece, sound or not.
class TPackageBytes {
public:
    TPackageBytes& Int(int32_t value);
    TPackageBytes& Raw(const std::string& bytes);
    TPackageBytes& Header(int32_t totalSize, int32_t fileCount, const std::string& title = "");
    TPackageBytes& Record(const std::string& name);  // NameLength and the name
    TPackageBytes& Entry(const std::string& name, int32_t date);  // ... and EntryDate
    TPackageBytes& Signature();
    TPackageBytes& Compressed(const std::string& content, int level = 6);  // one zlib block
    TPackageBytes& Stored(const std::string& content);                      // negative BlockSize
    TPackageBytes& EndData();                                               // BlockSize 0
    TPackageBytes& EndMarker();                                             // NameLength 0
    // A whole package entry: content cut into 16384-byte compressed blocks.
    TPackageBytes& File(const std::string& name, int32_t date, const std::string& content);
    TPackageBytes& Switch(const std::string& digits);  // "NEXT:DISK" + digits

    const std::string& Str() const { return bytes_; }
    std::vector<uint8_t> Vec() const { return {bytes_.begin(), bytes_.end()}; }
    size_t Size() const { return bytes_.size(); }

private:
    std::string bytes_;
};

// A zlib stream of the content (one block's worth of package data).
std::string Deflate(const std::string& content, int level = 6);
// Bytes that neither compress nor repeat.
std::string NoiseBytes(size_t count, uint32_t seed = 1);
// Text-like bytes that compress well.
std::string TextBytes(size_t count, uint32_t seed = 1);

// PE headers (and nothing else) for an executable with these sections,
// given as (PointerToRawData, SizeOfRawData).
std::vector<uint8_t> PeHeaders(const std::vector<std::pair<uint32_t, uint32_t>>& sections,
                               uint32_t peOffset = 0x80);
// Gives such headers a PE32 optional header (Magic, 16 data directories)
// whose security directory names a certificate table at a file offset.
void SetCertificateTable(std::vector<uint8_t>& headers, uint32_t offset, uint32_t size,
                         uint32_t peOffset = 0x80);

}  // namespace oup::test
