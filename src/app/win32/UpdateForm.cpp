#include "app/win32/UpdateForm.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>

#include "app/win32/Pictures.h"
#include "common/Errors.h"
#include "platform/win32/AnsiNames.h"

namespace oup::win32 {

namespace {

constexpr const char* kWindowClass = "OstrelUpdateWizard";
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_WINDOWEDGE;
constexpr int kFontPoints = 8;
// The search animation plays the first frames of its clip only.
constexpr int kFindComputerStopFrame = 8;

// A function of a system DLL that older Windows versions lack; null there.
template <typename TFunction>
TFunction SystemFunction(const char* module, const char* name) {
    const HMODULE handle = ::GetModuleHandleA(module);
    if (!handle) return nullptr;
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(::GetProcAddress(handle, name)));
}

int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        SystemFunction<TGetDpiForWindow>("user32.dll", "GetDpiForWindow");
    if (getDpiForWindow && window)
        if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
    const TWindowDC screen(nullptr);
    return ::GetDeviceCaps(screen.Get(), LOGPIXELSY);
}

// The outer size of a window whose client area is the given one.
void AdjustForDpi(RECT& rect, int dpi) {
    using TAdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi =
        SystemFunction<TAdjustForDpi>("user32.dll", "AdjustWindowRectExForDpi");
    if (adjustForDpi && adjustForDpi(&rect, kFormStyle, FALSE, kFormExStyle, static_cast<UINT>(dpi)))
        return;
    ::AdjustWindowRectEx(&rect, kFormStyle, FALSE, kFormExStyle);
}

struct TFaceSearch {
    bool Found = false;
    bool Scalable = false;
};

int CALLBACK NoteFace(const LOGFONTA*, const TEXTMETRICA*, DWORD type, LPARAM data) {
    auto* search = reinterpret_cast<TFaceSearch*>(data);
    search->Found = true;
    if (type & TRUETYPE_FONTTYPE) search->Scalable = true;
    return 1;
}

bool FaceInstalled(HDC dc, const char* face, bool mustScale) {
    LOGFONTA font{};
    font.lfCharSet = DEFAULT_CHARSET;
    std::strncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    TFaceSearch search;
    ::EnumFontFamiliesExA(dc, &font, NoteFace, reinterpret_cast<LPARAM>(&search), 0);
    return search.Found && (!mustScale || search.Scalable);
}

// "MS Sans Serif" is a bitmap font made for 96 dpi; at other scales it would
// come out the wrong size or blurred, so a TrueType sans serif takes its place.
// Systems without any of them (Wine without its fonts) get the dialog font.
std::string ChooseFace(HDC dc, int dpi) {
    const bool mustScale = dpi != kBaseDpi;
    for (const char* face : {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma"})
        if (FaceInstalled(dc, face, mustScale)) return face;
    LOGFONTA gui{};
    if (::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui) && gui.lfFaceName[0])
        return gui.lfFaceName;
    return "MS Shell Dlg";
}

bool SameBounds(const TLayoutRect& a, const TLayoutRect& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Width == b.Width && a.Height == b.Height;
}

}  // namespace

TUpdateForm::TUpdateForm(HINSTANCE instance, TPlatform& platform, TCommandLine commandLine,
                         TFormOptions options)
    : instance_(instance),
      platform_(platform),
      commandLine_(std::move(commandLine)),
      options_(std::move(options)),
      formBrush_(::CreateSolidBrush(kFormColor)),
      shell32_(L"shell32.dll"),
      controls_(*this, shell32_.Get()) {}

TUpdateForm::~TUpdateForm() {
    if (!handle_) return;
    // The loop ended without the window closing: clean up as closing would.
    try {
        if (update_) update_->FormClose();
    } catch (...) {
    }
    closing_ = true;
    ::DestroyWindow(handle_);
}

void TUpdateForm::RegisterWindowClass() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance_;
    wc.hIcon = ::LoadIconA(instance_, MAKEINTRESOURCEA(kMainIconId));
    wc.hIconSm = static_cast<HICON>(::LoadImageA(instance_, MAKEINTRESOURCEA(kMainIconId), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.lpszClassName = kWindowClass;
    // A second form in one process (the tests) finds the class registered.
    if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Could not register the window class (error " +
                        std::to_string(::GetLastError()) + ")");
}

void TUpdateForm::Create() {
    RegisterWindowClass();
    ::CreateWindowExA(kFormExStyle, kWindowClass, kFormCaption, kFormStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr, instance_, this);
    if (!handle_)
        throw Exception("Could not create the window (error " + std::to_string(::GetLastError()) +
                        ")");
    created_ = true;
    scale_ = TDpiScale(options_.Dpi > 0 ? options_.Dpi : WindowDpi(handle_));
    CreateFonts();

    for (TWinControl* control : controls_.Windows()) control->CreateHandle(instance_);
    StackControls();
    controls_.Animate1.SetClip(TCommonAVI::aviFindComputer, kFindComputerStopFrame);
    PlaceAll();
    SizeToClient(true);

    update_ = std::make_unique<TUpdate>(platform_, *this, WireControls(controls_), commandLine_);
    update_->FormCreate();
}

void TUpdateForm::CreateFonts() {
    LOGFONTA font{};
    font.lfHeight = -::MulDiv(kFontPoints, scale_.Dpi(), 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    const std::string face = ChooseFace(measureDC_.Get(), scale_.Dpi());
    std::strncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    normalFont_.Reset(::CreateFontIndirectA(&font));
    font.lfWeight = FW_BOLD;
    boldFont_.Reset(::CreateFontIndirectA(&font));
}

HFONT TUpdateForm::Font(TFontKind kind) const {
    const HFONT font = kind == TFontKind::Bold ? boldFont_.Get() : normalFont_.Get();
    return font ? font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

// Windows in the layout's stacking order: each one goes on top of those
// before it, so the last lies highest (Start over Next, Cancel over Close,
// the animation over the lists).
void TUpdateForm::StackControls() {
    for (TWinControl* control : controls_.Windows())
        ::SetWindowPos(control->Handle(), HWND_TOP, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TUpdateForm::PlaceAll() {
    for (TWinControl* control : controls_.Windows()) control->Place();
    for (TPaintedLabel* label : controls_.Labels()) label->Place();
    ArrangeContent();
    if (handle_) ::InvalidateRect(handle_, nullptr, FALSE);
}

// Makes the client area exactly the layout's size at the current scale;
// centres the window on its monitor's work area, or puts it where Windows
// suggests after a change of DPI.
void TUpdateForm::SizeToClient(bool centre, const RECT* suggested) {
    const int width = scale_(kClientWidth), height = scale_(kClientHeight);
    RECT outer{0, 0, width, height};
    AdjustForDpi(outer, scale_.Dpi());
    int outerWidth = outer.right - outer.left, outerHeight = outer.bottom - outer.top;
    RECT place{};
    ::GetWindowRect(handle_, &place);
    if (suggested) place = *suggested;
    if (centre) {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoA(::MonitorFromWindow(handle_, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& work = monitor.rcWork;
        place.left = work.left + (work.right - work.left - outerWidth) / 2;
        place.top = std::max<LONG>(work.top, work.top + (work.bottom - work.top - outerHeight) / 2);
    }
    ::SetWindowPos(handle_, nullptr, place.left, place.top, outerWidth, outerHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // Frames differ between themes and systems: correct by what came out.
    RECT client{};
    ::GetClientRect(handle_, &client);
    const int dx = width - (client.right - client.left), dy = height - (client.bottom - client.top);
    if (dx != 0 || dy != 0)
        ::SetWindowPos(handle_, nullptr, 0, 0, outerWidth + dx, outerHeight + dy,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void TUpdateForm::ApplyDpi(int dpi) {
    if (dpi <= 0 || dpi == scale_.Dpi()) return;
    scale_ = TDpiScale(dpi);
    // The windows still use the old fonts until they are placed again.
    TFont oldNormal = std::move(normalFont_), oldBold = std::move(boldFont_);
    CreateFonts();
    PlaceAll();
}

bool TUpdateForm::Show(int showCommand) {
    showing_ = true;
    try {
        update_->FormShow();
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
    showing_ = false;
    if (closeRequested_) {
        // Start-up gave up (no package, a broken one): the wizard is never shown.
        restoreWindow_.reset();
        if (!RequestClose() && handle_) ::PostMessageA(handle_, WM_CLOSE, 0, 0);
        return false;
    }
    if (!handle_) return false;
    ::ShowWindow(handle_, showCommand);
    ::UpdateWindow(handle_);
    ::SetForegroundWindow(handle_);
    // Only now that the wizard is on screen: a window that appears after its
    // predecessor has vanished may open behind other programs' windows.
    restoreWindow_.reset();
    FixFocus();
    return true;
}

int TUpdateForm::RunMessageLoop() {
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (PreTranslateMessage(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    if (!update_) return ecNoPackage;
    const int status = update_->ExitCode();
    update_->WriteReport(status);
    return status;
}

// --- window procedure ---

LRESULT CALLBACK TUpdateForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TUpdateForm* form = nullptr;
    if (message == WM_NCCREATE) {
        form = static_cast<TUpdateForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->handle_ = window;
    } else {
        form = reinterpret_cast<TUpdateForm*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    }
    if (!form) return ::DefWindowProcA(window, message, wParam, lParam);
    // Nothing may unwind through Windows' own frames: every error ends here,
    // is shown, and the program goes on.
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
        form->ShowError(e.what());
    } catch (...) {
        form->ShowError("An unexpected error occurred.");
    }
    return 0;
}

LRESULT TUpdateForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (code == BN_SETFOCUS || code == BN_KILLFOCUS) {
                UpdateDefaultFrame();
            } else if (code == BN_CLICKED) {
                // A click queued before the button was hidden or disabled
                // (a key pressed twice) is dropped.
                TWinButton* button = ButtonById(id);
                if (button && button->Reachable()) {
                    Click(id);
                    FixFocus();
                }
            }
            return 0;
        }
        case WM_CLOSE:
            RequestClose();
            return 0;
        case WM_ENDSESSION:
            // Logging off or shutting down: the process ends once this
            // returns, with no close to follow, so the work directory goes
            // now. Not under start-up's restore or the update run, which
            // still use it (it stays then: the process ends in the middle of
            // them). A search stops at its next look: the wizard is closed.
            if (wParam && update_ && !showing_ && !update_->Updating()) {
                update_->CancelRequested = true;
                try {
                    update_->FormClose();
                } catch (...) {
                    // Closing ignores its own failures.
                }
            }
            return 0;
        case kFitColumnsMessage:
            controls_.driveliste.FitPendingColumn();
            controls_.Liste.FitPendingColumn();
            return 0;
        case WM_DESTROY:
            if (options_.QuitOnDestroy) ::PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            const HWND window = handle_;
            Detach();
            return ::DefWindowProcA(window, message, wParam, lParam);
        }
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
        case WM_PRINTCLIENT:
            // Themed buttons ask for what lies behind their rounded corners.
            PaintScene(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_CTLCOLORSTATIC: {
            const HDC dc = reinterpret_cast<HDC>(wParam);
            if (reinterpret_cast<HWND>(lParam) == controls_.Memo1.Handle()) {
                // A read-only edit asks here; the memo keeps the window colours.
                ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
                ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
            }
            ::SetBkColor(dc, kFormColor);
            return reinterpret_cast<LRESULT>(formBrush_.Get());
        }
        case WM_CTLCOLORBTN:
            ::SetBkColor(reinterpret_cast<HDC>(wParam), kFormColor);
            return reinterpret_cast<LRESULT>(formBrush_.Get());
        case WM_SETCURSOR:
            if (cursor_ == TCursorKind::crHourGlass) {
                ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
                return TRUE;
            }
            break;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = ::GetFocus();
                savedFocus_ = focus && ::IsChild(handle_, focus) ? focus : nullptr;
            } else if (!HIWORD(wParam)) {
                if (savedFocus_ && ::IsWindowVisible(savedFocus_) && ::IsWindowEnabled(savedFocus_))
                    ::SetFocus(savedFocus_);
                else
                    FixFocus();
            }
            return 0;
        case WM_DPICHANGED:
            ApplyDpi(LOWORD(wParam));
            SizeToClient(false, reinterpret_cast<const RECT*>(lParam));
            return 0;
        default:
            break;
    }
    return ::DefWindowProcA(handle_, message, wParam, lParam);
}

void TUpdateForm::ShowError(const std::string& text) noexcept {
    try {
        MessageBox(text, kApplicationTitle, TMsgKind::Error, TMsgButtons::Ok);
    } catch (...) {
    }
}

void TUpdateForm::Detach() {
    for (TWinControl* control : controls_.Windows()) control->DetachHandle();
    handle_ = nullptr;
}

// Closing asks the wizard first: during the search or the update run it
// holds the close until they have stopped, and then closes by itself.
bool TUpdateForm::RequestClose() {
    if (!handle_ || closing_) return false;
    if (!update_->CloseQuery()) return false;
    closing_ = true;
    update_->FormClose();
    ::DestroyWindow(handle_);
    return true;
}

void TUpdateForm::Click(int id) {
    switch (id) {
        case idNesteKnapp: update_->NesteKnappClick(); break;
        case idForrigeKnapp: update_->ForrigeKnappClick(); break;
        case idStartKnapp: update_->StartKnappClick(); break;
        case idAvbrytKnapp: update_->AvbrytKnappClick(); break;
        case idButton2: update_->Button2Click(); break;
        default: break;
    }
}

// --- painting ---

void TUpdateForm::Paint() {
    const TPaintDC paint(handle_);
    const RECT& area = paint.Area();
    if (area.right <= area.left || area.bottom <= area.top) return;
    RECT client{};
    ::GetClientRect(handle_, &client);
    // Painted off screen first, so labels never flicker over their background.
    const TMemoryDC buffer(paint.Get());
    const TBitmap bitmap(::CreateCompatibleBitmap(paint.Get(), client.right, client.bottom));
    if (!buffer || !bitmap) {
        PaintScene(paint.Get());
        return;
    }
    const TSelectObject select(buffer.Get(), bitmap.Get());
    PaintScene(buffer.Get());
    ::BitBlt(paint.Get(), area.left, area.top, area.right - area.left, area.bottom - area.top,
             buffer.Get(), area.left, area.top, SRCCOPY);
}

// The form's own surface: background, labels, the separator line, and the
// two bands with their pictures and labels. The windowed controls cover
// their parts of it by themselves.
void TUpdateForm::PaintScene(HDC dc) {
    const TSaveDC saved(dc);
    RECT client{};
    ::GetClientRect(handle_, &client);
    FillSolid(dc, client, kFormColor);

    controls_.Label12.Draw(dc);
    controls_.bane.Draw(dc);
    controls_.filelabel1.Draw(dc);
    controls_.FileLabel2.Draw(dc);
    DrawTopLine(dc, scale_.Rect(kBevel2), scale_);
    // The content label lies wholly under the memo's place: whenever the
    // memo is shown, the label is covered, also where the memo has made
    // room for the warning of page 5.
    if (!controls_.Memo1.Visible()) controls_.Label1.Draw(dc);

    // The header band, docked at the top across the whole width.
    RECT header = scale_.Rect(kPanel1);
    header.right = client.right;
    FillSolid(dc, header, kHeaderColor);
    controls_.OXPPanel1.Draw(dc);
    RECT headerEdge = scale_.Rect(kImage3, kPanel1.Left, kPanel1.Top);
    headerEdge.right = client.right;
    DrawBandEdgeHorizontal(dc, headerEdge);
    controls_.Label2.Draw(dc);

    // The instructions band, docked at the left below the header; its
    // pictures are clipped by it.
    RECT band = scale_.Rect(kPanel2);
    band.bottom = client.bottom;
    {
        const TSaveDC clip(dc);
        ::IntersectClipRect(dc, band.left, band.top, band.right, band.bottom);
        FillSolid(dc, band, kInstructionsColor);
        DrawBackdrop(dc, scale_.Rect(kImage1, kPanel2.Left, kPanel2.Top), scale_);
        DrawEmblem(dc, scale_.Rect(kImage4, kPanel2.Left, kPanel2.Top), scale_);
        RECT edge = scale_.Rect(kImage2, kPanel2.Left, kPanel2.Top);
        edge.bottom = band.bottom;
        DrawBandEdgeVertical(dc, edge);
        controls_.advpanel2.Draw(dc);
    }
}

// --- the content area on page 5 ---

// The warning of page 5 and the failure lines share the content area: when
// both are shown, the warning keeps the top and the memo moves below it.
void TUpdateForm::ArrangeContent() {
    TLayoutRect memo = kContentArea;
    if (controls_.Memo1.Visible() && controls_.Label12.Visible()) {
        const TLayoutRect& warning = controls_.Label12.Bounds();
        const int textHeight = scale_.Unscale(controls_.Label12.TextHeight()) + 1;
        const int top = warning.Top + std::min(warning.Height, textHeight) + kWarningGap;
        memo.Top = top;
        memo.Height = kContentArea.Top + kContentArea.Height - top;
    }
    if (!SameBounds(memo, controls_.Memo1.Bounds())) controls_.Memo1.SetBounds(memo);
    InvalidateArea(scale_.Rect(kContentArea));
}

void TUpdateForm::VisibilityChanged(TFormControl& control) {
    if (&control == &controls_.Memo1 || &control == &controls_.Label12) ArrangeContent();
}

// --- TControlHost ---

int TUpdateForm::TextWidth(const std::string& text, TFontKind kind) {
    const TSelectObject select(measureDC_.Get(), Font(kind));
    SIZE size{};
    ::GetTextExtentPoint32A(measureDC_.Get(), text.data(), static_cast<int>(text.size()), &size);
    return size.cx;
}

SIZE TUpdateForm::TextExtent(const std::string& text, TFontKind kind, UINT format, int width) {
    const TSelectObject select(measureDC_.Get(), Font(kind));
    RECT r{0, 0, width, 0};
    ::DrawTextA(measureDC_.Get(), text.data(), static_cast<int>(text.size()), &r,
                format | DT_CALCRECT);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void TUpdateForm::InvalidateArea(const RECT& area) {
    if (handle_) ::InvalidateRect(handle_, &area, FALSE);
}

void TUpdateForm::PaintNow() {
    if (handle_) ::UpdateWindow(handle_);
}

// --- keyboard ---

bool TUpdateForm::PreTranslateMessage(MSG& message) {
    if (!handle_ || (message.hwnd != handle_ && !::IsChild(handle_, message.hwnd))) return false;
    if (message.message == WM_KEYDOWN) {
        const bool control = ::GetKeyState(VK_CONTROL) < 0, alt = ::GetKeyState(VK_MENU) < 0;
        switch (message.wParam) {
            case VK_TAB:
                if (control || alt) break;
                MoveFocus(::GetKeyState(VK_SHIFT) >= 0);
                return true;
            case VK_RETURN:
                if (control || alt) break;
                if (TWinButton* focused = FocusedButton())
                    PressButton(focused);
                else
                    PressButton(DefaultButton());
                return true;
            case VK_ESCAPE:
                PressButton(CancelButton());
                return true;
            default:
                break;
        }
    }
    return ::IsDialogMessageA(handle_, &message) != FALSE;
}

TWinButton* TUpdateForm::DefaultButton() {
    if (controls_.StartKnapp.Reachable()) return &controls_.StartKnapp;
    if (controls_.NesteKnapp.Reachable()) return &controls_.NesteKnapp;
    return nullptr;
}

TWinButton* TUpdateForm::CancelButton() {
    if (controls_.AvbrytKnapp.Reachable()) return &controls_.AvbrytKnapp;
    if (controls_.Button2.Reachable()) return &controls_.Button2;
    return nullptr;
}

TWinButton* TUpdateForm::ButtonById(int id) {
    for (TWinButton* button : controls_.Buttons())
        if (button->Id() == id) return button;
    return nullptr;
}

TWinControl* TUpdateForm::FocusedControl() {
    const HWND focus = ::GetFocus();
    if (!focus) return nullptr;
    for (TWinControl* control : TabOrder())
        if (control->Handle() == focus || ::IsChild(control->Handle(), focus)) return control;
    return nullptr;
}

TWinButton* TUpdateForm::FocusedButton() {
    TWinControl* focused = FocusedControl();
    if (!focused || !focused->Reachable()) return nullptr;
    return ButtonById(focused->Id());
}

void TUpdateForm::MoveFocus(bool forward) {
    std::vector<TWinControl*> order = TabOrder();
    if (!forward) std::reverse(order.begin(), order.end());
    const auto current = std::find(order.begin(), order.end(), FocusedControl());
    const size_t start = current == order.end() ? order.size() - 1
                                                 : static_cast<size_t>(current - order.begin());
    for (size_t step = 1; step <= order.size(); ++step) {
        TWinControl* next = order[(start + step) % order.size()];
        if (next->Reachable()) {
            ::SetFocus(next->Handle());
            break;
        }
    }
    UpdateDefaultFrame();
}

// After a page change the focused control may be hidden or disabled; the
// keyboard then goes to the default button, or to the first control it can
// reach.
void TUpdateForm::FixFocus() {
    if (!handle_ || ::GetActiveWindow() != handle_) return;
    TWinControl* focused = FocusedControl();
    if (!focused || !focused->Reachable()) {
        TWinControl* target = DefaultButton();
        if (!target)
            for (TWinControl* control : TabOrder())
                if (control->Reachable()) {
                    target = control;
                    break;
                }
        ::SetFocus(target ? target->Handle() : handle_);
    }
    UpdateDefaultFrame();
}

// The thick frame shows what Enter presses: the focused button, or the
// default button while no button has the focus.
void TUpdateForm::UpdateDefaultFrame() {
    TWinButton* framed = FocusedButton();
    if (!framed) framed = DefaultButton();
    for (TWinButton* button : controls_.Buttons())
        button->SetDefaultFrame(button == framed);
}

void TUpdateForm::PressButton(TWinButton* button) {
    if (!button || !button->Reachable() || !handle_) return;
    // Posted, so the click runs from the message loop like a mouse click.
    ::PostMessageA(handle_, WM_COMMAND, MAKEWPARAM(button->Id(), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button->Handle()));
}

// --- TFormServices ---

void TUpdateForm::ProcessMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The main loop must still see it.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (restoreWindow_ && restoreWindow_->PreTranslateMessage(message)) continue;
        if (PreTranslateMessage(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

TMsgResult TUpdateForm::MessageBox(const std::string& text, const std::string& caption,
                                   TMsgKind kind, TMsgButtons buttons) {
    // An error while the restore window shows ends start-up: the window, whose
    // Cancel could do nothing more, must not stand behind the message.
    if (kind == TMsgKind::Error) restoreWindow_.reset();
    const UINT type = (kind == TMsgKind::Error ? MB_ICONERROR : MB_ICONINFORMATION) |
                      (buttons == TMsgButtons::OkCancel ? MB_OKCANCEL : MB_OK);
    const int answer = options_.MessageBoxHook
                           ? options_.MessageBoxHook(text, caption, type)
                           : ::MessageBoxA(handle_, text.c_str(), caption.c_str(), type);
    return answer == IDCANCEL ? TMsgResult::Cancel : TMsgResult::Ok;
}

bool TUpdateForm::ExecuteOpenDialog(const std::string& initialDir, std::string& fileName) {
    if (options_.OpenDialogHook) return options_.OpenDialogHook(initialDir, fileName);
    // The W dialog: a package in a folder outside the ANSI code page comes
    // back whole, and is then taken by its short name.
    std::vector<wchar_t> file(32768, L'\0');
    std::wcscpy(file.data(), L"*.oup");
    const std::wstring dir = Widen(initialDir);
    const std::wstring title = Widen(kApplicationTitle);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = handle_;
    dialog.lpstrFilter = L"Ostrel Update Package\0*.oup\0";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = dir.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"oup";
    dialog.Flags = OFN_HIDEREADONLY | OFN_READONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                   OFN_FILEMUSTEXIST | OFN_CREATEPROMPT | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!::GetOpenFileNameW(&dialog)) return false;
    const std::wstring chosen(file.data());
    fileName = UsableAnsiPath(chosen);
    if (fileName.empty()) throw ENameNotRepresentable(ShownAnsi(chosen));
    return true;
}

// The hourglass holds for the whole window (WM_SETCURSOR) until it is taken back.
void TUpdateForm::SetCursor(TCursorKind cursor) {
    cursor_ = cursor;
    ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(cursor == TCursorKind::crHourGlass
                                                            ? 32514     // IDC_WAIT
                                                            : 32512)));  // IDC_ARROW
}

void TUpdateForm::ProcessPaintMessages() {
    if (handle_) ::RedrawWindow(handle_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TUpdateForm::Close() {
    // During start-up the window is not shown yet; it is closed as soon as
    // start-up has returned, and never appears.
    if (showing_) {
        closeRequested_ = true;
        return;
    }
    if (handle_) ::PostMessageA(handle_, WM_CLOSE, 0, 0);
}

// --- the window over a long start-up restore ---

void TUpdateForm::ShowRestoreWindow(const std::string& packageFileName) {
    try {
        restoreWindow_ = std::make_unique<TRestoreWindow>(instance_, scale_, Font(TFontKind::Normal),
                                                          packageFileName, handle_);
    } catch (const std::exception&) {
        // Only a sign of life: without it the restore goes on all the same.
        restoreWindow_.reset();
    }
}

void TUpdateForm::SetRestorePercent(int percent) {
    if (restoreWindow_) restoreWindow_->SetPercent(percent);
}

bool TUpdateForm::RestoreCancelRequested() {
    return restoreWindow_ && restoreWindow_->CancelRequested();
}

void TUpdateForm::EndRestoreWindow() {
    if (!restoreWindow_) return;
    restoreWindow_->Finish();
    // During start-up Show takes it away once the wizard is on screen.
    if (!showing_) restoreWindow_.reset();
}

int64_t TUpdateForm::TickCount() {
    return options_.Clock ? options_.Clock() : TFormServices::TickCount();
}

}  // namespace oup::win32
