#include "support/FakeControls.h"

namespace oup::test {

void TFakeControlBase::Record(const std::string& what, const std::string& value) {
    if (Log) Log->push_back(Name + "." + what + "=" + value);
}

void TFakeControlBase::SetVisible(bool visible) {
    visible_ = visible;
    Record("Visible", visible ? "1" : "0");
}

void TFakeControlBase::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Record("Enabled", enabled ? "1" : "0");
}

void TFakeControlBase::SetCaption(const std::string& caption) {
    caption_ = caption;
    ++CaptionChanges;
    Record("Caption", caption);
}

void TFakeControlBase::SetLeft(int left) {
    left_ = left;
    Record("Left", std::to_string(left));
}

void TFakeListView::Clear() {
    items_.clear();
    Record("Items", "cleared");
}

void TFakeListView::AddItem(const std::string& caption, bool checked) {
    items_.push_back({caption, checked});
    Record("Items", "+" + caption);
}

void TFakeListView::SetColumnTitle(const std::string& title) {
    columnTitle_ = title;
    Record("Column", title);
}

std::vector<std::string> TFakeListView::Captions() const {
    std::vector<std::string> out;
    for (const TItem& item : items_) out.push_back(item.Caption);
    return out;
}

void TFakeMemo::AppendLine(const std::string& line) {
    caption_ += caption_.empty() ? line : "\r\n" + line;
    Record("Lines", "+" + line);
}

std::vector<std::string> TFakeMemo::Lines() const {
    std::vector<std::string> out;
    if (caption_.empty()) return out;
    size_t from = 0;
    for (size_t at; (at = caption_.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(caption_.substr(from, at - from));
    out.push_back(caption_.substr(from));
    return out;
}

void TFakeAnimate::Play() {
    playing_ = true;
    Record("Playing", "1");
}

void TFakeAnimate::Stop() {
    playing_ = false;
    Record("Playing", "0");
}

}  // namespace oup::test
