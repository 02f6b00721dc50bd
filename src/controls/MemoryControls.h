// Controls kept in memory: every control of the seam with its state and no
// window. Unattended mode runs the wizard's logic on them; the test fakes
// extend them with a record of every change.
#pragma once
#include <string>
#include <vector>

#include "controls/Controls.h"
#include "controls/FileLbl.h"

namespace oup {

class TMemoryControl : public virtual TControl {
public:
    void SetVisible(bool visible) override { visible_ = visible; }
    bool Visible() const override { return visible_; }
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    bool Enabled() const override { return enabled_; }
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    std::string Caption() const override { return caption_; }
    void SetLeft(int left) override { left_ = left; }
    int Left() const override { return left_; }
    void Repaint() override {}

protected:
    bool visible_ = true, enabled_ = true;
    std::string caption_;
    int left_ = 0;
};

class TMemoryListView : public TMemoryControl, public TListView {
public:
    void Clear() override { items_.clear(); }
    void AddItem(const std::string& caption, bool checked) override {
        items_.push_back({caption, checked});
    }
    int Count() const override { return static_cast<int>(items_.size()); }
    std::string ItemCaption(int index) const override { return items_.at(index).Caption; }
    bool ItemChecked(int index) const override { return items_.at(index).Checked; }
    void SetItemChecked(int index, bool checked) override { items_.at(index).Checked = checked; }
    void SetColumnTitle(const std::string& title) override { columnTitle_ = title; }
    std::string ColumnTitle() const override { return columnTitle_; }

    std::vector<std::string> Captions() const;

private:
    struct TItem {
        std::string Caption;
        bool Checked;
    };
    std::vector<TItem> items_;
    std::string columnTitle_;
};

class TMemoryMemo : public TMemoryControl, public TMemo {
public:
    void AppendLine(const std::string& line) override {
        caption_ += caption_.empty() ? line : "\r\n" + line;
    }
    // The text split at CR LF; an empty text has no lines.
    std::vector<std::string> Lines() const;
};

class TMemoryAnimate : public TMemoryControl, public TAnimate {
public:
    void SetClip(TCommonAVI clip) override { clip_ = clip; }
    TCommonAVI Clip() const override { return clip_; }
    void Play() override { playing_ = true; }
    void Stop() override { playing_ = false; }
    bool Playing() const override { return playing_; }

private:
    TCommonAVI clip_ = TCommonAVI::aviNone;
    bool playing_ = false;
};

// A measure for text that is never drawn: a fixed width per character plus
// a fixed amount per measured text, so that the label's fitting is still
// consistent. (A per-text amount makes sums of separately measured pieces
// differ from the width of the joined text, as kerning does in a real font.)
class TFixedMeasure : public TTextMeasure {
public:
    explicit TFixedMeasure(int perChar = 1, int perText = 0) : PerChar(perChar), PerText(perText) {}
    int TextWidth(const std::string& text) override {
        ++Calls;
        return static_cast<int>(text.size()) * PerChar + PerText;
    }
    int PerChar, PerText;
    int Calls = 0;
};

class TMemoryFileLabel : public TMemoryControl, public TFileLabelControl {
public:
    TMemoryFileLabel() : label_(measure_) {}
    TFileLabel& Label() override { return label_; }

private:
    TFixedMeasure measure_{6};
    TFileLabel label_;
};

class TMemoryProgress : public TMemoryControl, public TProgressControl {
public:
    void SetProgress(int done, int total) override {
        Done = done;
        Total = total;
    }
    int Done = 0, Total = 0;
};

}  // namespace oup
