#include "app/OutputFile.h"

#include "common/Errors.h"
#include "update/WritePlaces.h"

namespace oup {

namespace {

constexpr const char* kRefusedText = "The %s \"%s\" is refused: %s.";

}  // namespace

std::unique_ptr<TFileStream> OpenOutputFileSafely(TPlatform& platform, const std::string& path,
                                                  const std::string& what, std::string* finalPath) {
    TOutputFileInfo info;
    const TOsResult opened = platform.OpenOutputFile(path, info);
    if (!opened)
        throw EFOpenError(FormatMessage(
            kCannotOpenFileText, {path, "System error " + std::to_string(opened.Error) + "."}));
    std::string reason;
    if (info.IsLink || !info.File) {
        reason = "it is a link (a reparse point)";
    } else if (info.Links > 1) {
        reason = "it has " + std::to_string(info.Links) + " names (hard links)";
    } else {
        const std::string given = info.GivenPath.empty() ? path : info.GivenPath;
        if (platform.AnsiUpperCase(NormalFinalPath(info.FinalPath)) !=
            platform.AnsiUpperCase(NormalFinalPath(given)))
            reason = "it resolves to \"" + NormalFinalPath(info.FinalPath) + "\"";
    }
    // A file made just now stays: a deletion by its name could be led to
    // another file as the write could.
    if (!reason.empty()) throw EFOpenError(FormatMessage(kRefusedText, {what, path, reason}));
    if (finalPath) *finalPath = NormalFinalPath(info.FinalPath);
    return std::move(info.File);
}

}  // namespace oup
