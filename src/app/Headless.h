// The wizard without a window, for unattended runs (/S) and benchmarks: every
// control kept in memory, and form services that never show anything. The
// page logic runs unchanged on top of them.
#pragma once
#include <string>
#include <vector>

#include "app/Update.h"

namespace oup {

class THeadlessControl : public virtual TControl {
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

class THeadlessListView : public THeadlessControl, public TListView {
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

private:
    struct TItem {
        std::string Caption;
        bool Checked;
    };
    std::vector<TItem> items_;
    std::string columnTitle_;
};

class THeadlessMemo : public THeadlessControl, public TMemo {
public:
    void AppendLine(const std::string& line) override {
        caption_ += caption_.empty() ? line : "\r\n" + line;
    }
};

class THeadlessAnimate : public THeadlessControl, public TAnimate {
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

// Nothing is drawn, so any consistent width will do for the label's fitting.
class THeadlessMeasure : public TTextMeasure {
public:
    int TextWidth(const std::string& text) override { return static_cast<int>(text.size()) * 6; }
};

class THeadlessFileLabel : public THeadlessControl, public TFileLabelControl {
public:
    THeadlessFileLabel() : label_(measure_) {}
    TFileLabel& Label() override { return label_; }

private:
    THeadlessMeasure measure_;
    TFileLabel label_;
};

class THeadlessProgress : public THeadlessControl, public TProgressControl {
public:
    void SetProgress(int done, int total) override {
        Done = done;
        Total = total;
    }
    int Done = 0, Total = 0;
};

// The form's controls in the state the form's layout gives them.
class THeadlessControls {
public:
    THeadlessControls();
    THeadlessControls(const THeadlessControls&) = delete;
    THeadlessControls& operator=(const THeadlessControls&) = delete;
    // Pointers into this object: it must outlive the TUpdate they are given to.
    TWizardControls Wire();

    THeadlessControl NesteKnapp, Button2, ForrigeKnapp, Label12, StartKnapp, bane, AvbrytKnapp,
        Label1, OXPPanel1, advpanel2;
    THeadlessAnimate Animate1;
    THeadlessMemo Memo1;
    THeadlessListView Liste, driveliste;
    THeadlessFileLabel filelabel1, FileLabel2;
    THeadlessProgress Progress;
};

// Form services that never show anything. Message boxes are kept as text
// (they are in the log already, through the form) and answered with OK, but
// a question that offers Cancel is declined: nobody is there to act on it.
class THeadlessServices : public TFormServices {
public:
    void ProcessMessages() override {}
    TMsgResult MessageBox(const std::string& text, const std::string& caption, TMsgKind kind,
                          TMsgButtons buttons) override;
    bool ExecuteOpenDialog(const std::string&, std::string&) override { return false; }
    void SetCursor(TCursorKind) override {}
    void ProcessPaintMessages() override {}
    // Closing a window that does not exist: the form's clean-up runs at once.
    void Close() override;

    void Attach(TUpdate* form) { form_ = form; }
    std::vector<std::string> Messages;

private:
    TUpdate* form_ = nullptr;
};

}  // namespace oup
