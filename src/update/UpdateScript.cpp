#include "update/UpdateScript.h"

#include <deque>
#include <memory>

#include "common/Errors.h"
#include "common/Stream.h"
#include "common/TextReader.h"

namespace oup {

namespace {

// Stands in for a script that cannot be opened: every line reads as empty.
class TEmptyStream : public TStream {
public:
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void*, size_t) override { return 0; }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

}  // namespace

void ReadUpdateScript(TPlatform& platform, const std::string& path, TUpdateScript& script) {
    std::unique_ptr<TFileStream> file;
    try {
        file = platform.OpenFile(path, TOpenMode::ReadShared);
    } catch (const EInOutError&) {
        // A missing script is not reported here: its empty fifth line is.
    }
    TEmptyStream empty;
    ReadUpdateScript(file ? static_cast<TStream&>(*file) : empty, script);
}

void ReadUpdateScript(TStream& stream, TUpdateScript& script, const TBadDateEvent& onBadDate) {
    TTextReader reader(stream);
    int line = 0;  // the last line handed out
    std::deque<std::string> ahead;
    auto nextLine = [&] {
        ++line;
        if (ahead.empty()) return reader.ReadLine();
        std::string text = std::move(ahead.front());
        ahead.pop_front();
        return text;
    };
    auto readDate = [&] {
        const std::string text = nextLine();
        if (!onBadDate) return StrToDateTime(text);
        try {
            return StrToDateTime(text);
        } catch (const EConvertError& e) {
            onBadDate(line, e.Message());
            return TDateTime(0);
        }
    };

    script.FileEntries.clear();
    script.ProgramName = nextLine();
    script.ProgramVersion = nextLine();
    script.Company = nextLine();
    script.ProgramFile = nextLine();
    script.ReservedDateTime = readDate();
    script.ReservedDateText = nextLine();
    script.ReservedFlagText = nextLine();

    // The end is tested only before an entry: a short last entry reads its
    // missing lines as empty, and an empty date line then fails. Blank lines
    // that run up to the end (an editor's last line end, or a few) are no
    // entry; blank lines followed by text start one, and its lines then count.
    for (;;) {
        while (!reader.Eof() && (ahead.empty() || Trim(ahead.back()).empty()))
            ahead.push_back(reader.ReadLine());
        if (ahead.empty() || Trim(ahead.back()).empty()) break;
        TFileEntry& entry = script.FileEntries.emplace_back();
        entry.Line = line + 1;
        entry.SourceName = nextLine();
        entry.TargetName = nextLine();
        entry.Mode = nextLine();
        entry.FileDate = readDate();
        entry.TargetDir = nextLine();
    }
}

std::string AdjustLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') break;  // the memo's text ends at a zero byte
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

bool LoadNotes(TPlatform& platform, const std::string& path, std::string& text) {
    if (!platform.FileExists(path)) return false;
    const std::unique_ptr<TFileStream> file = platform.OpenFile(path, TOpenMode::ReadShared);
    std::string raw;
    char buffer[16384];
    while (const size_t got = file->Read(buffer, sizeof buffer)) raw.append(buffer, got);
    text = AdjustLineBreaks(raw);
    return true;
}

}  // namespace oup
