// The control seam: the wizard's logic talks to its controls through these
// small interfaces. The Win32 form implements them on real windows;
// unattended mode uses the in-memory set (MemoryControls.h), which the test
// fakes extend with a record of every change.
#pragma once
#include <string>

namespace oup {

class TControl {
public:
    virtual ~TControl() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    // Caption of a button or label; the text of a memo.
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetLeft(int left) = 0;
    virtual int Left() const = 0;
    // Paints now, without waiting for the message loop.
    virtual void Repaint() = 0;
};

// A report-style list view with check boxes and one column.
class TListView : public virtual TControl {
public:
    virtual void Clear() = 0;
    virtual void AddItem(const std::string& caption, bool checked) = 0;
    virtual int Count() const = 0;
    virtual std::string ItemCaption(int index) const = 0;
    virtual bool ItemChecked(int index) const = 0;
    virtual void SetItemChecked(int index, bool checked) = 0;
    virtual void SetColumnTitle(const std::string& title) = 0;
    virtual std::string ColumnTitle() const = 0;
};

// The read-only memo; its caption is its whole text (lines joined by CR LF).
class TMemo : public virtual TControl {
public:
    virtual void AppendLine(const std::string& line) = 0;
};

// The system's stock animation clips, in their traditional order.
enum class TCommonAVI { aviNone, aviFindFolder, aviFindFile, aviFindComputer, aviCopyFiles,
                        aviCopyFile, aviRecycleFile, aviEmptyRecycle, aviDeleteFile };

class TAnimate : public virtual TControl {
public:
    virtual void SetClip(TCommonAVI clip) = 0;
    virtual TCommonAVI Clip() const = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;
    virtual bool Playing() const = 0;
};

// A progress indication (files done of files due).
class TProgressControl : public virtual TControl {
public:
    virtual void SetProgress(int done, int total) = 0;
};

// Something that measures text in a control's font, in pixels.
class TTextMeasure {
public:
    virtual ~TTextMeasure() = default;
    virtual int TextWidth(const std::string& text) = 0;
};

}  // namespace oup
