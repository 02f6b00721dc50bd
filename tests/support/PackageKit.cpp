#include "support/PackageKit.h"

#include <zlib.h>

#include <stdexcept>

namespace oup::test {

void TRecordingUserInterface::ProcessMessages() {
    ++Pumps;
    if (Log) Log->push_back("pump");
}

TMsgResult TRecordingUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                               TMsgKind kind, TMsgButtons buttons) {
    Boxes.push_back({text, caption, kind, buttons});
    if (Log) Log->push_back("box:" + text);
    if (OnBox) OnBox(Boxes.back());
    if (Answers.empty()) return TMsgResult::Ok;
    const TMsgResult r = Answers.front();
    Answers.pop_front();
    return r;
}

TPackageBytes& TPackageBytes::Int(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes_ += static_cast<char>(v >> (8 * i));
    return *this;
}

TPackageBytes& TPackageBytes::Raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
}

TPackageBytes& TPackageBytes::Header(int32_t totalSize, int32_t fileCount, const std::string& title) {
    return Int(static_cast<int32_t>(title.size())).Raw(title).Int(totalSize).Int(fileCount);
}

TPackageBytes& TPackageBytes::Record(const std::string& name) {
    return Int(static_cast<int32_t>(name.size())).Raw(name);
}

TPackageBytes& TPackageBytes::Entry(const std::string& name, int32_t date) {
    return Record(name).Int(date);
}

TPackageBytes& TPackageBytes::Signature() { return Raw(std::string("EC2\0", 4)); }

TPackageBytes& TPackageBytes::Compressed(const std::string& content, int level) {
    const std::string z = Deflate(content, level);
    return Int(static_cast<int32_t>(z.size())).Raw(z);
}

TPackageBytes& TPackageBytes::Stored(const std::string& content) {
    return Int(-static_cast<int32_t>(content.size())).Raw(content);
}

TPackageBytes& TPackageBytes::EndData() { return Int(0); }
TPackageBytes& TPackageBytes::EndMarker() { return Int(0); }

TPackageBytes& TPackageBytes::File(const std::string& name, int32_t date, const std::string& content) {
    Entry(name, date).Signature();
    for (size_t at = 0; at < content.size(); at += 16384) Compressed(content.substr(at, 16384));
    return EndData();
}

TPackageBytes& TPackageBytes::Switch(const std::string& digits) { return Record("NEXT:DISK" + digits); }

std::string Deflate(const std::string& content, int level) {
    uLongf size = compressBound(static_cast<uLong>(content.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(content.data()), static_cast<uLong>(content.size()),
                  level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

std::string NoiseBytes(size_t count, uint32_t seed) {
    std::string out(count, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

std::string TextBytes(size_t count, uint32_t seed) {
    static const char* words[] = {"update ", "ledger ", "package ", "file ",  "the ",
                                  "restore ", "volume ", "block ",  "12.03 ", "\r\n"};
    std::string out;
    uint32_t x = seed;
    while (out.size() < count) {
        x = x * 1103515245u + 12345u;
        out += words[(x >> 16) % 10];
    }
    out.resize(count);
    return out;
}

std::vector<uint8_t> PeHeaders(const std::vector<std::pair<uint32_t, uint32_t>>& sections,
                               uint32_t peOffset) {
    const size_t table = peOffset + 248;
    std::vector<uint8_t> h(table + 40 * sections.size(), 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    h[0] = 'M';
    h[1] = 'Z';
    put32(0x3C, peOffset);
    h[peOffset] = 'P';
    h[peOffset + 1] = 'E';
    h[peOffset + 4] = 0x4C;  // i386
    h[peOffset + 5] = 0x01;
    h[peOffset + 6] = static_cast<uint8_t>(sections.size());
    h[peOffset + 7] = static_cast<uint8_t>(sections.size() >> 8);
    h[peOffset + 20] = 224;  // SizeOfOptionalHeader
    for (size_t i = 0; i < sections.size(); ++i) {
        put32(table + 40 * i + 16, sections[i].second);  // SizeOfRawData
        put32(table + 40 * i + 20, sections[i].first);   // PointerToRawData
    }
    return h;
}

void SetCertificateTable(std::vector<uint8_t>& h, uint32_t offset, uint32_t size,
                         uint32_t peOffset) {
    const size_t optional = peOffset + 24;
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    };
    h.at(optional) = 0x0B;  // PE32
    h.at(optional + 1) = 0x01;
    put32(optional + 92, 16);  // NumberOfRvaAndSizes
    put32(optional + 128, offset);
    put32(optional + 132, size);
}

}  // namespace oup::test
