// TFileLabel: a one-line label that shows a path and, when the path is wider
// than the label, drops directories in favour of an ellipsis so that the
// drive and the file name stay readable ("C:\...\Ledger\ledger.exe").
//
// This is the portable part: it keeps the path, its parts and the bounds, and
// computes the caption with a text measure. The window that draws it must
// measure in the font it draws with and draw exactly Caption(), without
// treating "&" as a mnemonic (DT_NOPREFIX), or the fitting is off.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "controls/Controls.h"

namespace oup {

enum TDirection : uint8_t {
    drFromLeft,   // keeps the last directories: "C:\...\Ledger\ledger.exe"
    drFromRight,  // keeps the first directories: "C:\Apps\...\ledger.exe"
};

// Appends the parts of text between occurrences of separator (matched whole
// and case-sensitively) to list and returns list. Always appends at least one
// part; parts may be empty. An empty separator is never found.
std::vector<std::string>& SplitPath(const std::string& text, const std::string& separator,
                                    std::vector<std::string>& list);

class TFileLabel {
public:
    // The measure must outlive the label. Nothing is measured until a
    // non-empty FileName is set, so a window class may pass a measure that it
    // finishes setting up after this constructor.
    explicit TFileLabel(TTextMeasure& measure);
    TFileLabel(const TFileLabel&) = delete;
    TFileLabel& operator=(const TFileLabel&) = delete;

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& value);
    const std::string& Separator() const { return separator_; }
    void SetSeparator(const std::string& value);
    TDirection Direction() const { return direction_; }
    void SetDirection(TDirection value);

    // Every move or resize goes through here and refits the caption.
    void SetBounds(int left, int top, int width, int height);
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    const std::string& Caption() const { return caption_; }
    const std::vector<std::string>& PathParts() const { return pathParts_; }
    bool HasDrive() const { return hasDrive_; }

    // Called whenever the caption takes a new value; the window repaints.
    std::function<void()> OnCaptionChanged;

private:
    void UpdateParts();
    void FitCaption();
    void SetCaption(std::string caption);

    TTextMeasure& measure_;
    std::string fileName_;
    std::string separator_ = "\\";
    TDirection direction_ = drFromLeft;
    std::vector<std::string> pathParts_;
    bool hasDrive_ = false;
    std::string caption_;
    // A new label's customary size until the form lays it out.
    int left_ = 0, top_ = 0, width_ = 65, height_ = 17;
};

// A path-shortening label as a form sees it: a control that can be shown
// and hidden, around the portable label that computes its caption.
class TFileLabelControl : public virtual TControl {
public:
    virtual TFileLabel& Label() = 0;
};

}  // namespace oup
