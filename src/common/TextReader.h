// The line reader shared by the update script and the language file: a line
// ends at LF, a CR before the LF is dropped, a lone CR is dropped, byte 26
// ends the file, and lines have no length limit.
#pragma once
#include <string>

#include "common/Stream.h"

namespace oup {

class TTextReader {
public:
    // The stream stays the caller's and must outlive the reader.
    explicit TTextReader(TStream& stream) : stream_(stream) {}

    // True when no byte is left or the next byte is a Ctrl-Z.
    bool Eof();
    // Reads the next line; at the end of the file, an empty line.
    std::string ReadLine();

private:
    bool Fill();
    TStream& stream_;
    char buffer_[4096];
    size_t pos_ = 0, len_ = 0;
    bool ended_ = false;  // Ctrl-Z met, or the stream ran out
};

}  // namespace oup
