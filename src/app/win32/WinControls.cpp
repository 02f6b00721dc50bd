#include "app/win32/WinControls.h"

#include <commctrl.h>

#include <algorithm>

#include "app/win32/GdiHandles.h"
#include "common/Errors.h"

namespace oup::win32 {

namespace {

// Offset of a band's origin in the form's client area, in 96-dpi pixels.
POINT BandOrigin(TBand band) {
    switch (band) {
        case TBand::Panel1: return {kPanel1.Left, kPanel1.Top};
        case TBand::Panel2: return {kPanel2.Left, kPanel2.Top};
        case TBand::Form: break;
    }
    return {0, 0};
}

// The edit control breaks lines only at CR LF; the text a caller sets may
// have bare LFs or CRs.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

// Stock clip resources of shell32, in the order of TCommonAVI.
int ClipResourceId(TCommonAVI clip) {
    switch (clip) {
        case TCommonAVI::aviFindFolder: return 150;
        case TCommonAVI::aviFindFile: return 151;
        case TCommonAVI::aviFindComputer: return 152;
        case TCommonAVI::aviCopyFiles: return 161;
        case TCommonAVI::aviCopyFile: return 160;
        case TCommonAVI::aviRecycleFile: return 162;
        case TCommonAVI::aviEmptyRecycle: return 163;
        case TCommonAVI::aviDeleteFile: return 164;
        case TCommonAVI::aviNone: break;
    }
    return 0;
}

}  // namespace

// --- TFormControl ---

TFormControl::TFormControl(TControlHost& host, std::string name, TLayoutRect bounds, TBand band)
    : host_(host), name_(std::move(name)), bounds_(bounds), band_(band) {}

void TFormControl::SetBounds(const TLayoutRect& bounds) {
    bounds_ = bounds;
    Place();
}

void TFormControl::SetLeft(int left) {
    TLayoutRect bounds = bounds_;
    bounds.Left = left;
    SetBounds(bounds);
}

RECT TFormControl::DeviceRect() const {
    const POINT origin = BandOrigin(band_);
    return host_.Scale().Rect(bounds_, origin.x, origin.y);
}

// --- TWinControl ---

TWinControl::TWinControl(TControlHost& host, std::string name, TLayoutRect bounds, int id,
                         TWindowSpec windowSpec)
    : TFormControl(host, std::move(name), bounds),
      caption_(windowSpec.Caption),
      id_(id),
      spec_(std::move(windowSpec)) {}

void TWinControl::CreateHandle(HINSTANCE instance) {
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | spec_.Style;
    if (spec_.Visible) style |= WS_VISIBLE;
    if (!spec_.Enabled) style |= WS_DISABLED;
    if (spec_.TabStop) style |= WS_TABSTOP;
    const RECT r = DeviceRect();
    handle_ = ::CreateWindowExA(spec_.ExStyle, spec_.ClassName, caption_.c_str(), style, r.left,
                                r.top, r.right - r.left, r.bottom - r.top, host_.Window(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), instance,
                                nullptr);
    if (!handle_)
        throw Exception("Could not create the control " + Name() + " (error " +
                        std::to_string(::GetLastError()) + ")");
    ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(host_.Font(TFontKind::Normal)),
                   FALSE);
    AfterCreate();
}

void TWinControl::SetVisible(bool visible) {
    if (!handle_ || visible == Visible()) return;
    ::ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
    host_.VisibilityChanged(*this);
}

// The window's own style bit: the form itself is still hidden while start-up
// sets up the first page, and IsWindowVisible would answer for the parent.
bool TWinControl::Visible() const {
    return handle_ && (::GetWindowLongA(handle_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TWinControl::SetEnabled(bool enabled) {
    if (handle_) ::EnableWindow(handle_, enabled ? TRUE : FALSE);
}

bool TWinControl::Enabled() const { return handle_ && ::IsWindowEnabled(handle_); }

void TWinControl::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (handle_) ::SetWindowTextA(handle_, caption.c_str());
}

void TWinControl::Repaint() {
    if (handle_)
        ::RedrawWindow(handle_, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TWinControl::Place() {
    if (!handle_) return;
    const RECT r = DeviceRect();
    ::SetWindowPos(handle_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(host_.Font(TFontKind::Normal)),
                   TRUE);
    AfterPlace();
}

// --- TWinButton ---

TWinButton::TWinButton(TControlHost& host, std::string name, TLayoutRect bounds, int id,
                       std::string caption, bool visible, bool enabled)
    : TWinControl(host, std::move(name), bounds, id,
                  {"BUTTON", BS_PUSHBUTTON | BS_NOTIFY, 0, std::move(caption), visible, enabled,
                   true}) {}

void TWinButton::SetDefaultFrame(bool isDefault) {
    if (!Handle()) return;
    const LONG style = ::GetWindowLongA(Handle(), GWL_STYLE);
    const bool isNow = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    if (isNow == isDefault) return;
    ::SendMessageA(Handle(), BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

// --- TWinListView ---

TWinListView::TWinListView(TControlHost& host, std::string name, TLayoutRect bounds, int id,
                           std::string columnTitle, COLORREF background)
    : TWinControl(host, std::move(name), bounds, id,
                  {WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, "", false,
                   true, true}),
      columnTitle_(std::move(columnTitle)),
      background_(background) {}

void TWinListView::AfterCreate() {
    ListView_SetExtendedListViewStyleEx(Handle(), LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    if (background_ != CLR_DEFAULT) {
        ListView_SetBkColor(Handle(), background_);
        ListView_SetTextBkColor(Handle(), background_);
    }
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<char*>(columnTitle_.c_str());
    column.cx = DeviceRect().right - DeviceRect().left;
    ::SendMessageA(Handle(), LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    FitColumn();
}

void TWinListView::AfterPlace() { FitColumn(); }

// The one column fills the list's width, less a scroll bar when there is one.
void TWinListView::FitColumn() {
    if (Handle()) ListView_SetColumnWidth(Handle(), 0, LVSCW_AUTOSIZE_USEHEADER);
}

void TWinListView::Clear() {
    captions_.clear();
    if (Handle()) ListView_DeleteAllItems(Handle());
    FitColumn();
}

void TWinListView::AddItem(const std::string& caption, bool checked) {
    captions_.push_back(caption);
    if (!Handle()) return;
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_STATE;
    item.iItem = static_cast<int>(captions_.size()) - 1;
    item.pszText = const_cast<char*>(caption.c_str());
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    const LRESULT at = ::SendMessageA(Handle(), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    if (at < 0) {
        captions_.pop_back();
        throw Exception("Could not add \"" + caption + "\" to the list " + Name());
    }
    // The check box state is set again after the insertion: some list view
    // versions give a new item an unticked box whatever the state said.
    ListView_SetCheckState(Handle(), static_cast<int>(at), checked ? TRUE : FALSE);
    // A fit lays the whole list out again, so it waits for the form's next
    // look at its messages and then serves every item added meanwhile: a
    // search that adds thousands fits a few times, not once per item.
    if (fitPending_) return;
    fitPending_ = true;
    if (!::PostMessageA(host_.Window(), kFitColumnsMessage, 0, 0)) FitPendingColumn();
}

void TWinListView::FitPendingColumn() {
    if (!fitPending_) return;
    fitPending_ = false;
    FitColumn();
}

void TWinListView::CheckIndex(int index) const {
    if (index < 0 || index >= Count()) ThrowListIndex(index);
}

std::string TWinListView::ItemCaption(int index) const {
    CheckIndex(index);
    return captions_[static_cast<size_t>(index)];
}

bool TWinListView::ItemChecked(int index) const {
    CheckIndex(index);
    return Handle() && ListView_GetCheckState(Handle(), index) != 0;
}

void TWinListView::SetItemChecked(int index, bool checked) {
    CheckIndex(index);
    if (Handle()) ListView_SetCheckState(Handle(), index, checked ? TRUE : FALSE);
}

void TWinListView::SetColumnTitle(const std::string& title) {
    columnTitle_ = title;
    if (!Handle()) return;
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<char*>(columnTitle_.c_str());
    ::SendMessageA(Handle(), LVM_SETCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
}

// --- TWinMemo ---

TWinMemo::TWinMemo(TControlHost& host, std::string name, TLayoutRect bounds, int id)
    : TWinControl(host, std::move(name), bounds, id,
                  {"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, 0, "", false,
                   true, true}) {}

void TWinMemo::AfterCreate() {
    // Notes may be longer than the edit control's default limit.
    ::SendMessageA(Handle(), EM_SETLIMITTEXT, 0, 0);
    UpdateScrollBar();
}

void TWinMemo::AfterPlace() { UpdateScrollBar(); }

void TWinMemo::SetCaption(const std::string& caption) {
    caption_ = caption;
    ShowText();
}

void TWinMemo::AppendLine(const std::string& line) {
    const std::string added = caption_.empty() ? line : "\r\n" + line;
    caption_ += added;
    if (!Handle()) return;
    // Only the new line goes to the window: setting the whole text for each
    // of thousands of preview lines takes time that grows with its square.
    // The caret goes to the end first (EM_SETSEL with -1 would only drop the
    // selection and leave the caret where it was; a length in bytes that
    // exceeds the characters is taken as the end). The pieces break lines as
    // the whole would, since the added text begins with its own CR LF.
    const int end = ::GetWindowTextLengthA(Handle());
    ::SendMessageA(Handle(), EM_SETSEL, end, end);
    ::SendMessageA(Handle(), EM_REPLACESEL, FALSE,
                   reinterpret_cast<LPARAM>(WithCrLf(added).c_str()));
    // Once the bar is there the text only grows: no need to measure again
    // (hiding the bar to measure would wrap the whole text anew each time).
    if (!(::GetWindowLongA(Handle(), GWL_STYLE) & WS_VSCROLL)) UpdateScrollBar();
}

void TWinMemo::SetVisible(bool visible) {
    // Lines added while it was hidden leave the view at the last one; the
    // memo shows its text from the top, as a text set whole is shown.
    if (visible && Handle() && !Visible()) {
        ::SendMessageA(Handle(), EM_SETSEL, 0, 0);
        ::SendMessageA(Handle(), EM_SCROLLCARET, 0, 0);
    }
    TWinControl::SetVisible(visible);
}

void TWinMemo::ShowText() {
    if (!Handle()) return;
    ::SetWindowTextA(Handle(), WithCrLf(caption_).c_str());
    UpdateScrollBar();
}

// The scroll bar appears only when the text is longer than the memo.
void TWinMemo::UpdateScrollBar() {
    if (!Handle()) return;
    ::ShowScrollBar(Handle(), SB_VERT, FALSE);
    const int lines = static_cast<int>(::SendMessageA(Handle(), EM_GETLINECOUNT, 0, 0));
    RECT client{};
    ::GetClientRect(Handle(), &client);
    const int lineHeight =
        std::max(1, static_cast<int>(host_.TextExtent("Ag", TFontKind::Normal, DT_SINGLELINE, 0).cy));
    if (lines * lineHeight > client.bottom - client.top) ::ShowScrollBar(Handle(), SB_VERT, TRUE);
}

// --- TWinAnimate ---

TWinAnimate::TWinAnimate(TControlHost& host, std::string name, TLayoutRect bounds, int id,
                         HMODULE clipModule)
    : TWinControl(host, std::move(name), bounds, id,
                  {ANIMATE_CLASSA, ACS_CENTER | ACS_TRANSPARENT, 0, "", false, true, false}),
      clipModule_(clipModule) {}

void TWinAnimate::AfterCreate() { OpenClip(); }

void TWinAnimate::SetClip(TCommonAVI clip, int stopFrame) {
    const bool wasPlaying = playing_;
    if (wasPlaying) Stop();
    clip_ = clip;
    stopFrame_ = stopFrame;
    OpenClip();
    if (wasPlaying) Play();
}

void TWinAnimate::OpenClip() {
    clipOpen_ = false;
    if (!Handle()) return;
    Animate_Close(Handle());
    const int id = ClipResourceId(clip_);
    if (id == 0 || !clipModule_) return;
    clipOpen_ = ::SendMessageA(Handle(), ACM_OPENA, reinterpret_cast<WPARAM>(clipModule_),
                               reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(id))) != 0;
}

void TWinAnimate::Play() {
    playing_ = true;
    if (!Handle() || !clipOpen_) return;
    // Frames count from 0 here; a stop frame of 0 means the whole clip.
    const UINT last = stopFrame_ > 0 ? static_cast<UINT>(stopFrame_ - 1) : 0xFFFFu;
    Animate_Play(Handle(), 0, last, -1);
}

void TWinAnimate::Stop() {
    playing_ = false;
    if (Handle() && clipOpen_) Animate_Stop(Handle());
}

// --- TWinProgress ---

TWinProgress::TWinProgress(TControlHost& host, std::string name, TLayoutRect bounds, int id)
    : TWinControl(host, std::move(name), bounds, id,
                  {PROGRESS_CLASSA, PBS_SMOOTH, 0, "", false, true, false}) {}

void TWinProgress::SetProgress(int done, int total) {
    done_ = done;
    total_ = total;
    if (!Handle()) return;
    const int range = total > 0 ? total : 1;
    ::SendMessageA(Handle(), PBM_SETRANGE32, 0, range);
    ::SendMessageA(Handle(), PBM_SETPOS, std::clamp(done, 0, range), 0);
}

// --- TPaintedLabel ---

TPaintedLabel::TPaintedLabel(TControlHost& host, std::string name, TLayoutRect bounds, TBand band,
                             std::string caption, TLabelStyle style, bool visible)
    : TFormControl(host, std::move(name), bounds, band),
      style_(style),
      caption_(std::move(caption)),
      visible_(visible) {}

RECT TPaintedLabel::DeviceRect() const {
    RECT r = TFormControl::DeviceRect();
    if (style_.AutoSize) {
        r.right = r.left + autoSize_.cx;
        r.bottom = r.top + autoSize_.cy;
    }
    return r;
}

void TPaintedLabel::Invalidate() {
    if (host_.Window()) host_.InvalidateArea(DeviceRect());
}

void TPaintedLabel::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Invalidate();
    host_.VisibilityChanged(*this);
}

void TPaintedLabel::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Invalidate();
}

void TPaintedLabel::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    Invalidate();  // where the old text was
    caption_ = caption;
    Place();
}

void TPaintedLabel::Repaint() {
    Invalidate();
    host_.PaintNow();
}

void TPaintedLabel::Place() {
    if (style_.AutoSize && host_.Window())
        autoSize_ = host_.TextExtent(DrawnText(), style_.Font, DrawFormat() | DT_CALCRECT, 0);
    Invalidate();
}

UINT TPaintedLabel::DrawFormat() const {
    UINT format = DT_LEFT | DT_TOP | DT_EXPANDTABS;
    format |= style_.WordWrap ? DT_WORDBREAK : 0u;
    if (!style_.ShowAccelChar) format |= DT_NOPREFIX;
    if (style_.SingleLine) format |= DT_SINGLELINE;
    return format;
}

int TPaintedLabel::TextHeight() {
    const RECT r = TFormControl::DeviceRect();
    return host_.TextExtent(DrawnText(), style_.Font, DrawFormat() | DT_CALCRECT, r.right - r.left)
        .cy;
}

void TPaintedLabel::Draw(HDC dc) const {
    if (!visible_) return;
    RECT r = DeviceRect();
    const std::string text = DrawnText();
    if (text.empty()) return;
    const TSaveDC saved(dc);
    // A fixed-size label cuts its text at its edges, as its own canvas would.
    if (!style_.AutoSize) ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    ::SelectObject(dc, host_.Font(style_.Font));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, enabled_ ? style_.Color : ::GetSysColor(COLOR_GRAYTEXT));
    UINT format = DrawFormat();
    if (style_.AutoSize) format |= DT_NOCLIP;
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
}

// --- TWinFileLabel ---

TWinFileLabel::TWinFileLabel(TControlHost& host, std::string name, TLayoutRect bounds,
                             TLabelStyle style, bool visible)
    : TPaintedLabel(host, std::move(name), bounds, TBand::Form, "",
                    [style] {
                        TLabelStyle s = style;
                        // Paths draw their "&" as it is: the fitting measured it so.
                        s.ShowAccelChar = false;
                        s.SingleLine = true;
                        s.WordWrap = false;
                        s.AutoSize = false;
                        return s;
                    }(),
                    visible),
      label_(*this) {
    label_.OnCaptionChanged = [this] { Invalidate(); };
}

void TWinFileLabel::Place() {
    // The portable label fits in device pixels, measured as it is drawn.
    const RECT r = TFormControl::DeviceRect();
    label_.SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
    Invalidate();
}

int TWinFileLabel::TextWidth(const std::string& text) {
    return host_.TextWidth(text, style_.Font);
}

}  // namespace oup::win32
