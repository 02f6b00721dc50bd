// Recording stand-ins for the wizard's controls. Each keeps its state so a
// test can look at it afterwards, and, when given a log, writes one line per
// change ("NesteKnapp.Caption=&Next") so a test can check the order of
// changes across several controls.
#pragma once
#include <string>
#include <vector>

#include "app/Controls.h"

namespace oup::test {

using TControlLog = std::vector<std::string>;

class TFakeControlBase : public virtual TControl {
public:
    explicit TFakeControlBase(std::string name = {}, TControlLog* log = nullptr)
        : Name(std::move(name)), Log(log) {}

    void SetVisible(bool visible) override;
    bool Visible() const override { return visible_; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }
    void SetCaption(const std::string& caption) override;
    std::string Caption() const override { return caption_; }
    void SetLeft(int left) override;
    int Left() const override { return left_; }
    void Repaint() override { ++Repaints; }

    std::string Name;
    TControlLog* Log;
    int Repaints = 0;
    int CaptionChanges = 0;  // calls of SetCaption, whatever the value

protected:
    void Record(const std::string& what, const std::string& value);
    bool visible_ = true, enabled_ = true;
    std::string caption_;
    int left_ = 0;
};

class TFakeControl : public TFakeControlBase {
public:
    using TFakeControlBase::TFakeControlBase;
};

class TFakeListView : public TFakeControlBase, public TListView {
public:
    using TFakeControlBase::TFakeControlBase;
    void Clear() override;
    void AddItem(const std::string& caption, bool checked) override;
    int Count() const override { return static_cast<int>(items_.size()); }
    std::string ItemCaption(int index) const override { return items_.at(index).Caption; }
    bool ItemChecked(int index) const override { return items_.at(index).Checked; }
    void SetItemChecked(int index, bool checked) override { items_.at(index).Checked = checked; }
    void SetColumnTitle(const std::string& title) override;
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

class TFakeMemo : public TFakeControlBase, public TMemo {
public:
    using TFakeControlBase::TFakeControlBase;
    void AppendLine(const std::string& line) override;
    // The text split at CR LF; an empty text has no lines.
    std::vector<std::string> Lines() const;
};

class TFakeAnimate : public TFakeControlBase, public TAnimate {
public:
    using TFakeControlBase::TFakeControlBase;
    void SetClip(TCommonAVI clip) override { clip_ = clip; }
    TCommonAVI Clip() const override { return clip_; }
    void Play() override;
    void Stop() override;
    bool Playing() const override { return playing_; }

private:
    TCommonAVI clip_ = TCommonAVI::aviNone;
    bool playing_ = false;
};

// A deterministic text measure: a fixed width per character plus a fixed
// amount per measured text (0 by default). The per-text amount makes sums of
// separately measured pieces differ from the width of the joined text, as
// kerning and overhang do in a real font.
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

}  // namespace oup::test
