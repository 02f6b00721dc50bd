#include "controls/FileLbl.h"

namespace oup {

std::vector<std::string>& SplitPath(const std::string& text, const std::string& separator,
                                    std::vector<std::string>& list) {
    size_t from = 0;
    if (!separator.empty()) {
        for (size_t at; (at = text.find(separator, from)) != std::string::npos;
             from = at + separator.size())
            list.push_back(text.substr(from, at - from));
    }
    list.push_back(text.substr(from));
    return list;
}

TFileLabel::TFileLabel(TTextMeasure& measure) : measure_(measure) {}

void TFileLabel::SetFileName(const std::string& value) {
    if (value == fileName_) return;
    fileName_ = value;
    UpdateParts();
    FitCaption();
}

void TFileLabel::SetSeparator(const std::string& value) {
    if (value == separator_) return;
    separator_ = value;
    UpdateParts();
    FitCaption();
}

void TFileLabel::SetDirection(TDirection value) {
    if (value == direction_) return;
    direction_ = value;
    FitCaption();
}

void TFileLabel::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    FitCaption();
}

void TFileLabel::UpdateParts() {
    pathParts_.clear();
    SplitPath(fileName_, separator_, pathParts_);
    const std::string& first = pathParts_.front();
    hasDrive_ = first.size() >= 2 && first.back() == ':';
}

void TFileLabel::SetCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    if (OnCaptionChanged) OnCaptionChanged();
}

// Drive, ellipsis and file name are measured one by one and summed; the kept
// directories are measured as one text each time one more is tried. Leaving
// out the ellipsis or the drive needs the sum to stay below the width, while a
// directory is kept when the sum reaches the width exactly.
void TFileLabel::FitCaption() {
    if (fileName_.empty()) {
        SetCaption(std::string());
        return;
    }
    const long w = width_;
    if (measure_.TextWidth(fileName_) <= w) {
        SetCaption(fileName_);
        return;
    }

    const std::string ellipsis = "..." + separator_;
    const std::string& last = pathParts_.back();
    long used = static_cast<long>(measure_.TextWidth(last)) + measure_.TextWidth(ellipsis);
    if (used >= w) {
        SetCaption(last);
        return;
    }

    std::string drive;
    size_t first = 0;
    if (hasDrive_) {
        drive = pathParts_.front() + separator_;
        first = 1;
    }
    const long driveWidth = measure_.TextWidth(drive);
    if (used + driveWidth >= w) {
        SetCaption(ellipsis + last);
        return;
    }
    used += driveWidth;

    // Middle parts run from index first to n-2; the last part is shown anyway.
    const size_t lastIndex = pathParts_.size() - 1;
    std::string middle;
    if (direction_ == drFromLeft) {
        for (size_t i = lastIndex; i-- > first;) {
            std::string candidate = pathParts_[i] + separator_ + middle;
            if (used + measure_.TextWidth(candidate) > w) break;
            middle = std::move(candidate);
        }
        SetCaption(drive + ellipsis + middle + last);
    } else {
        for (size_t i = first; i < lastIndex; ++i) {
            std::string candidate = middle + pathParts_[i] + separator_;
            if (used + measure_.TextWidth(candidate) > w) break;
            middle = std::move(candidate);
        }
        SetCaption(drive + middle + ellipsis + last);
    }
}

}  // namespace oup
