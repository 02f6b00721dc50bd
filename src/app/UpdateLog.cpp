#include "app/UpdateLog.h"

#include "app/OutputFile.h"
#include "common/Errors.h"

namespace oup {

TUpdateLog::TUpdateLog(TPlatform& platform, const std::string& path) {
    file_ = OpenOutputFileSafely(platform, path, "log file");
    // Lines written anywhere but at the end would overwrite earlier runs.
    if (file_->Seek(0, TSeekOrigin::soEnd) < 0)
        throw EInOutError(FormatMessage("Cannot append to the log file \"%s\".", {path}));
}

void TUpdateLog::Line(const std::string& text) {
    const std::string line = text + "\r\n";
    try {
        file_->WriteBuffer(line.data(), line.size());
    } catch (const Exception&) {
        // A full disk must not stop the update the log describes.
    }
}

}  // namespace oup
