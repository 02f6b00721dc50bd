#include "package/PackageManifest.h"

#include <set>

#include "common/Paths.h"

namespace oup {

namespace {

constexpr const char* kProgramKey = "program ";
constexpr const char* kVersionKey = "version ";
constexpr const char* kVolumeKey = "volume ";
constexpr size_t kDigestDigits = 64;
constexpr size_t kMaxSizeDigits = 18;  // below 2^63 whatever the digits

[[noreturn]] void Fail(size_t line, const std::string& what) {
    throw EManifestError("manifest line " + std::to_string(line) + ": " + what);
}

bool HasControl(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// A text field: not empty, bounded, no control character (a line end in it
// would start a line of its own).
void CheckField(const std::string& value, const char* what, size_t line) {
    if (value.empty()) Fail(line, std::string("empty ") + what);
    if (value.size() > kMaxManifestField) Fail(line, std::string(what) + " longer than 255 bytes");
    if (HasControl(value)) Fail(line, std::string(what) + " holds a control character");
}

// The volume number a later volume's name carries: ".002" to ".999"; 0 when
// it carries none.
int ExtensionNumber(const std::string& name) {
    if (name.size() < 4 || name[name.size() - 4] != '.') return 0;
    int number = 0;
    for (size_t i = name.size() - 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 2 ? number : 0;
}

// The rules every volume list keeps, on writing and on reading.
void CheckVolumes(const std::vector<TManifestVolume>& volumes, size_t firstLine) {
    if (volumes.empty()) Fail(firstLine, "no volume");
    std::set<int> numbers;
    for (size_t i = 0; i < volumes.size(); ++i) {
        const TManifestVolume& v = volumes[i];
        const size_t line = firstLine + i;
        CheckField(v.Name, "volume name", line);
        if (!IsPlainFileName(v.Name)) Fail(line, "volume name \"" + v.Name + "\" is no plain file name");
        if (v.Size < 0) Fail(line, "negative volume size");
        if (i == 0) continue;
        const int number = ExtensionNumber(v.Name);
        if (number == 0) Fail(line, "volume name \"" + v.Name + "\" does not end in .002 to .999");
        if (!numbers.insert(number).second) Fail(line, "volume " + v.Name + " named twice");
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

TManifestVolume ReadVolumeLine(const std::string& rest, size_t line) {
    // "<size> <digest> <name>": the name last, so it may hold blanks.
    const size_t sizeEnd = rest.find(' ');
    if (sizeEnd == std::string::npos || sizeEnd == 0 || sizeEnd > kMaxSizeDigits)
        Fail(line, "no volume size");
    TManifestVolume v;
    for (size_t i = 0; i < sizeEnd; ++i) {
        if (rest[i] < '0' || rest[i] > '9') Fail(line, "volume size is no decimal number");
        v.Size = v.Size * 10 + (rest[i] - '0');
    }
    if (rest[0] == '0' && sizeEnd > 1) Fail(line, "volume size with a leading zero");
    const size_t digestAt = sizeEnd + 1;
    if (rest.size() < digestAt + kDigestDigits + 1 || rest[digestAt + kDigestDigits] != ' ')
        Fail(line, "no SHA-256 of 64 hex digits");
    for (size_t i = 0; i < kDigestDigits; i += 2) {
        const int high = HexValue(rest[digestAt + i]), low = HexValue(rest[digestAt + i + 1]);
        if (high < 0 || low < 0) Fail(line, "SHA-256 is not 64 lower-case hex digits");
        v.Digest[i / 2] = static_cast<uint8_t>(high << 4 | low);
    }
    v.Name = rest.substr(digestAt + kDigestDigits + 1);
    return v;
}

}  // namespace

std::string DigestHex(const TSha256& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

std::string WriteManifest(const TPackageManifest& manifest) {
    CheckField(manifest.ProgramName, "program name", 2);
    CheckField(manifest.ProgramVersion, "version", 3);
    if (manifest.Volumes.size() > kMaxManifestVolumes) Fail(4, "more than 999 volumes");
    CheckVolumes(manifest.Volumes, 4);
    std::string text = std::string(kManifestFormatLine) + "\n";
    text += kProgramKey + manifest.ProgramName + "\n";
    text += kVersionKey + manifest.ProgramVersion + "\n";
    for (const TManifestVolume& v : manifest.Volumes)
        text += kVolumeKey + std::to_string(v.Size) + " " + DigestHex(v.Digest) + " " + v.Name + "\n";
    return text;
}

TPackageManifest ReadManifest(const std::string& text) {
    if (text.size() > kMaxManifestSize) Fail(1, "the manifest is longer than 64 KiB");
    if (text.empty() || text.back() != '\n') Fail(1, "the manifest does not end with a line end");
    std::vector<std::string> lines;
    for (size_t from = 0; from < text.size();) {
        const size_t end = text.find('\n', from);
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    if (lines[0] != kManifestFormatLine) Fail(1, "not an oupdate package manifest of format 1");
    const auto field = [&](size_t index, const char* key, const char* what) {
        const std::string k = key;
        if (index >= lines.size() || lines[index].compare(0, k.size(), k) != 0)
            Fail(index + 1, std::string("no ") + what);
        std::string value = lines[index].substr(k.size());
        CheckField(value, what, index + 1);
        return value;
    };
    TPackageManifest m;
    m.ProgramName = field(1, kProgramKey, "program name");
    m.ProgramVersion = field(2, kVersionKey, "version");
    const std::string volumeKey = kVolumeKey;
    for (size_t i = 3; i < lines.size(); ++i) {
        if (lines[i].compare(0, volumeKey.size(), volumeKey) != 0)
            Fail(i + 1, "a line that is no volume");
        if (m.Volumes.size() == kMaxManifestVolumes) Fail(i + 1, "more than 999 volumes");
        m.Volumes.push_back(ReadVolumeLine(lines[i].substr(volumeKey.size()), i + 1));
    }
    CheckVolumes(m.Volumes, 4);
    return m;
}

int ManifestVolumeNumber(const TPackageManifest& manifest, size_t index) {
    return index == 0 ? 1 : ExtensionNumber(manifest.Volumes.at(index).Name);
}

}  // namespace oup
