// The wizard's controls on real windows: the control seam of app/Controls.h
// implemented on buttons, list views, an edit control, an animation control
// and a progress bar, plus labels and path labels that the form paints on its
// own surface. Positions are kept in 96-dpi pixels, relative to the band the
// control sits in, and scaled whenever the form lays itself out.
#pragma once
#include <string>
#include <vector>

#include "controls/Controls.h"
#include "controls/FileLbl.h"
#include "app/win32/FormLayout.h"
#include "platform/win32/WinApi.h"

#include <commctrl.h>

namespace oup::win32 {

enum class TFontKind { Normal, Bold };

// Where a painted control lives: on the form, or in one of the two bands
// whose children are placed relative to the band.
enum class TBand { Form, Panel1, Panel2 };

class TFormControl;

// What a control needs from the form it sits on.
class TControlHost {
public:
    virtual ~TControlHost() = default;
    virtual HWND Window() const = 0;
    virtual const TDpiScale& Scale() const = 0;
    virtual HFONT Font(TFontKind kind) const = 0;
    // Width of a text in device pixels, measured with GetTextExtentPoint32A.
    virtual int TextWidth(const std::string& text, TFontKind kind) = 0;
    // Size of a text as DrawTextA lays it out with the given format (and,
    // for word-wrapped text, the given width).
    virtual SIZE TextExtent(const std::string& text, TFontKind kind, UINT format, int width) = 0;
    // Marks part of the form's client area for repainting.
    virtual void InvalidateArea(const RECT& area) = 0;
    // Paints what is marked now, without waiting for the message loop.
    virtual void PaintNow() = 0;
    virtual void VisibilityChanged(TFormControl& control) = 0;
};

class TFormControl : public virtual TControl {
public:
    TFormControl(TControlHost& host, std::string name, TLayoutRect bounds, TBand band = TBand::Form);
    TFormControl(const TFormControl&) = delete;
    TFormControl& operator=(const TFormControl&) = delete;

    const std::string& Name() const { return name_; }
    TBand Band() const { return band_; }
    // Bounds in 96-dpi pixels, relative to the band.
    const TLayoutRect& Bounds() const { return bounds_; }
    void SetBounds(const TLayoutRect& bounds);
    // Where the control lies in the form's client area, in device pixels.
    virtual RECT DeviceRect() const;

    int Left() const override { return bounds_.Left; }
    void SetLeft(int left) override;

    // Applies bounds and font at the form's current DPI.
    virtual void Place() = 0;

protected:
    TControlHost& host_;

private:
    std::string name_;
    TLayoutRect bounds_;
    TBand band_;
};

// A control with a window of its own.
class TWinControl : public TFormControl {
public:
    struct TWindowSpec {
        const char* ClassName;
        DWORD Style;  // besides WS_CHILD, WS_CLIPSIBLINGS and WS_VISIBLE
        DWORD ExStyle = 0;
        std::string Caption;
        bool Visible = true;
        bool Enabled = true;
        bool TabStop = false;
    };

    TWinControl(TControlHost& host, std::string name, TLayoutRect bounds, int id, TWindowSpec windowSpec);

    // Creates the window as a child of the host's window, hidden or shown
    // as the layout says. Raises EOSError-like Exception on failure.
    void CreateHandle(HINSTANCE instance);
    // The window is gone (the form was destroyed): forget the handle.
    void DetachHandle() { handle_ = nullptr; }
    HWND Handle() const { return handle_; }
    int Id() const { return id_; }
    bool TabStop() const { return spec_.TabStop; }

    void SetVisible(bool visible) override;
    bool Visible() const override;
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;
    void SetCaption(const std::string& caption) override;
    std::string Caption() const override { return caption_; }
    void Repaint() override;
    void Place() override;

    // Visible and enabled, so that the keyboard may reach it.
    bool Reachable() const { return Visible() && Enabled(); }

protected:
    virtual void AfterCreate() {}
    virtual void AfterPlace() {}
    std::string caption_;

private:
    int id_;
    TWindowSpec spec_;
    HWND handle_ = nullptr;
};

class TWinButton : public TWinControl {
public:
    TWinButton(TControlHost& host, std::string name, TLayoutRect bounds, int id,
               std::string caption, bool visible = true, bool enabled = true);
    // Shows or takes away the thick frame of the button that Enter presses.
    void SetDefaultFrame(bool isDefault);
};

// Posted to the form by a list view that has items to fit its column to;
// the form answers with TWinListView::FitPendingColumn.
inline constexpr UINT kFitColumnsMessage = WM_APP + 1;

class TWinListView : public TWinControl, public TListView {
public:
    TWinListView(TControlHost& host, std::string name, TLayoutRect bounds, int id,
                 std::string columnTitle, COLORREF background = CLR_DEFAULT);

    void Clear() override;
    void AddItem(const std::string& caption, bool checked) override;
    int Count() const override { return static_cast<int>(captions_.size()); }
    std::string ItemCaption(int index) const override;
    bool ItemChecked(int index) const override;
    void SetItemChecked(int index, bool checked) override;
    void SetColumnTitle(const std::string& title) override;
    std::string ColumnTitle() const override { return columnTitle_; }
    // Fits the column once for the items added since the last fit.
    void FitPendingColumn();

private:
    void AfterCreate() override;
    void AfterPlace() override;
    void FitColumn();
    void CheckIndex(int index) const;

    std::string columnTitle_;
    COLORREF background_;
    // The captions as given, so that long paths come back whole.
    std::vector<std::string> captions_;
    bool fitPending_ = false;
};

// The read-only memo. Its caption is the whole text as set; the window
// shows it with every line break as CR LF, which the edit control needs.
class TWinMemo : public TWinControl, public TMemo {
public:
    TWinMemo(TControlHost& host, std::string name, TLayoutRect bounds, int id);

    void SetCaption(const std::string& caption) override;
    void AppendLine(const std::string& line) override;
    void SetVisible(bool visible) override;

private:
    void AfterCreate() override;
    void AfterPlace() override;
    void ShowText();
    void UpdateScrollBar();
};

class TWinAnimate : public TWinControl, public TAnimate {
public:
    // clipModule holds the system's stock clips (shell32), or is null.
    TWinAnimate(TControlHost& host, std::string name, TLayoutRect bounds, int id,
                HMODULE clipModule);

    // Sets a clip and the last frame to play (1-based; 0 plays to the end).
    void SetClip(TCommonAVI clip, int stopFrame);
    void SetClip(TCommonAVI clip) override { SetClip(clip, 0); }
    TCommonAVI Clip() const override { return clip_; }
    void Play() override;
    void Stop() override;
    bool Playing() const override { return playing_; }
    // Whether the clip could be opened; Windows versions without the stock
    // clips (and Wine) leave the control empty.
    bool ClipOpen() const { return clipOpen_; }

private:
    void AfterCreate() override;
    void OpenClip();

    HMODULE clipModule_;
    TCommonAVI clip_ = TCommonAVI::aviNone;
    int stopFrame_ = 0;
    bool playing_ = false;
    bool clipOpen_ = false;
};

class TWinProgress : public TWinControl, public TProgressControl {
public:
    TWinProgress(TControlHost& host, std::string name, TLayoutRect bounds, int id);
    void SetProgress(int done, int total) override;
    int Done() const { return done_; }
    int Total() const { return total_; }

private:
    int done_ = 0, total_ = 0;
};

struct TLabelStyle {
    TFontKind Font = TFontKind::Normal;
    COLORREF Color = kWhite;
    bool WordWrap = false;
    bool AutoSize = false;       // sized to its text
    bool ShowAccelChar = true;   // "&" underlines the next letter
    bool SingleLine = false;     // line breaks in the text are not honoured
};

// A label painted on the form (or a band of it): no window of its own, so
// every window-like control that overlaps it lies above it.
class TPaintedLabel : public TFormControl {
public:
    TPaintedLabel(TControlHost& host, std::string name, TLayoutRect bounds, TBand band,
                  std::string caption, TLabelStyle style, bool visible = true);

    void SetVisible(bool visible) override;
    bool Visible() const override { return visible_; }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }
    void SetCaption(const std::string& caption) override;
    std::string Caption() const override { return caption_; }
    void Repaint() override;
    void Place() override;
    RECT DeviceRect() const override;

    // Draws the label into a DC that maps the form's client area.
    virtual void Draw(HDC dc) const;
    const TLabelStyle& Style() const { return style_; }
    // The height its caption takes when wrapped to its width, in device pixels.
    int TextHeight();

protected:
    void Invalidate();
    UINT DrawFormat() const;
    virtual std::string DrawnText() const { return caption_; }

    TLabelStyle style_;
    std::string caption_;
    bool visible_;
    bool enabled_ = true;
    SIZE autoSize_{0, 0};  // device size of an auto-sized label
};

// A path label: the portable TFileLabel computes the caption, measured in
// the label's own font; this draws exactly that caption.
class TWinFileLabel : public TPaintedLabel, public TFileLabelControl, private TTextMeasure {
public:
    TWinFileLabel(TControlHost& host, std::string name, TLayoutRect bounds, TLabelStyle style,
                  bool visible);

    TFileLabel& Label() override { return label_; }
    // The caption is the label's own business; the path is set through Label().
    void SetCaption(const std::string&) override {}
    std::string Caption() const override { return label_.Caption(); }
    void Place() override;

private:
    int TextWidth(const std::string& text) override;
    std::string DrawnText() const override { return label_.Caption(); }

    TFileLabel label_;
};

}  // namespace oup::win32
