#include "common/TextReader.h"

namespace oup {

namespace {
constexpr char kCtrlZ = 26;
}

bool TTextReader::Fill() {
    if (ended_) return false;
    if (pos_ < len_) return true;
    len_ = stream_.Read(buffer_, sizeof buffer_);
    pos_ = 0;
    if (len_ == 0) ended_ = true;
    return len_ > 0;
}

bool TTextReader::Eof() {
    if (!Fill()) return true;
    if (buffer_[pos_] == kCtrlZ) ended_ = true;
    return ended_;
}

std::string TTextReader::ReadLine() {
    std::string line;
    while (Fill()) {
        const char c = buffer_[pos_];
        if (c == kCtrlZ) {
            ended_ = true;
            break;
        }
        ++pos_;
        if (c == '\n') break;
        if (c != '\r') line += c;
    }
    return line;
}

}  // namespace oup
