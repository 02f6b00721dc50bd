// The log an administrator asks for with /LOG=FILE: one line per event, in
// the file's existing text (appended), written as it happens so that a run
// that dies still leaves what it did.
#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace oup {

class TUpdateLog {
public:
    // Opens path for appending, creating it when missing (OutputFile.h).
    // Raises EFOpenError when it can be neither opened nor created, or leads
    // elsewhere, and EInOutError when its end cannot be reached.
    TUpdateLog(TPlatform& platform, const std::string& path);
    // Writes one line ending in CR LF. A failed write is not fatal to the run.
    void Line(const std::string& text);

private:
    std::unique_ptr<TFileStream> file_;
};

}  // namespace oup
