#include "controls/MemoryControls.h"

namespace oup {

std::vector<std::string> TMemoryListView::Captions() const {
    std::vector<std::string> out;
    for (const TItem& item : items_) out.push_back(item.Caption);
    return out;
}

std::vector<std::string> TMemoryMemo::Lines() const {
    std::vector<std::string> out;
    if (caption_.empty()) return out;
    size_t from = 0;
    for (size_t at; (at = caption_.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(caption_.substr(from, at - from));
    out.push_back(caption_.substr(from));
    return out;
}

}  // namespace oup
