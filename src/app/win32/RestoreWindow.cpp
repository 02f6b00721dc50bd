#include "app/win32/RestoreWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "app/Update.h"
#include "app/win32/UpdateForm.h"
#include "common/Errors.h"

namespace oup::win32 {

namespace {

constexpr const char* kWindowClass = "OstrelUpdateRestore";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// Its own button on the task bar: it is the program's only window while it shows.
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
constexpr int kFileNameId = 201;
constexpr int kBarId = 202;

void RegisterWindowClass(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(kMainIconId));
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Could not register the window class (error " +
                        std::to_string(::GetLastError()) + ")");
}

}  // namespace

TRestoreWindow::TRestoreWindow(HINSTANCE instance, const TDpiScale& scale, HFONT font,
                               const std::string& fileName, HWND nearWindow)
    : scale_(scale) {
    RegisterWindowClass(instance, WindowProc);
    ::CreateWindowExA(kExStyle, kWindowClass, kApplicationTitle, kStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, scale_(kRestoreClientWidth), scale_(kRestoreClientHeight),
                      nullptr, nullptr, instance, this);
    if (!handle_)
        throw Exception("Could not create the window (error " + std::to_string(::GetLastError()) +
                        ")");
    try {
        // A file name may hold "&": shown as it is, shortened in the middle when long.
        CreateChild(instance, "STATIC", fileName, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS,
                    kRestoreFileName, kFileNameId, font);
        bar_ = CreateChild(instance, PROGRESS_CLASSA, "", PBS_SMOOTH, kRestoreBar, kBarId, font);
        button_ = CreateChild(instance, "BUTTON", kRestoreCancelCaption,
                              BS_DEFPUSHBUTTON | WS_TABSTOP, kRestoreCancel, IDCANCEL, font);
    } catch (...) {
        // No destructor runs for a half-made object: the window goes here.
        ::DestroyWindow(handle_);
        throw;
    }
    ::SendMessageA(bar_, PBM_SETRANGE32, 0, 100);

    // The client area at the wizard's scale, whatever frame the system draws,
    // centred on the wizard's monitor.
    const int width = scale_(kRestoreClientWidth), height = scale_(kRestoreClientHeight);
    RECT outer{0, 0, width, height};
    ::AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
    RECT client{};
    ::SetWindowPos(handle_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    ::GetClientRect(handle_, &client);
    const int outerWidth = outer.right - outer.left + width - client.right;
    const int outerHeight = outer.bottom - outer.top + height - client.bottom;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoA(
        ::MonitorFromWindow(nearWindow ? nearWindow : handle_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const LONG left = work.left + (work.right - work.left - outerWidth) / 2;
    const LONG top =
        std::max<LONG>(work.top, work.top + (work.bottom - work.top - outerHeight) / 2);
    ::SetWindowPos(handle_, nullptr, left, top, outerWidth, outerHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    ::ShowWindow(handle_, SW_SHOWNORMAL);
    ::SetForegroundWindow(handle_);
    ::SetFocus(button_);
    ::UpdateWindow(handle_);
}

TRestoreWindow::~TRestoreWindow() {
    if (handle_) ::DestroyWindow(handle_);
}

HWND TRestoreWindow::CreateChild(HINSTANCE instance, const char* className, const std::string& text,
                                 DWORD style, const TLayoutRect& bounds, int id, HFONT font) {
    const RECT r = scale_.Rect(bounds);
    const HWND child =
        ::CreateWindowExA(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                          r.right - r.left, r.bottom - r.top, handle_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (!child)
        throw Exception("Could not create the window (error " + std::to_string(::GetLastError()) +
                        ")");
    ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

void TRestoreWindow::SetPercent(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == percent_) return;
    percent_ = percent;
    ::SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void TRestoreWindow::Finish() {
    finished_ = true;
    if (button_) ::EnableWindow(button_, FALSE);
}

void TRestoreWindow::Cancel() {
    if (finished_ || cancelled_) return;
    cancelled_ = true;
    // Pressed once is enough; the restore stops at its next block.
    ::EnableWindow(button_, FALSE);
}

bool TRestoreWindow::PreTranslateMessage(MSG& message) {
    if (!handle_ || (message.hwnd != handle_ && !::IsChild(handle_, message.hwnd))) return false;
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
        Cancel();
        return true;
    }
    return ::IsDialogMessageA(handle_, &message) != FALSE;
}

LRESULT CALLBACK TRestoreWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    TRestoreWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self =
            static_cast<TRestoreWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->handle_ = window;
    } else {
        self = reinterpret_cast<TRestoreWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT TRestoreWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) Cancel();
            return 0;
        case WM_CLOSE:
            // The window goes when the restore has stopped, not before.
            Cancel();
            return 0;
        case WM_NCDESTROY: {
            const HWND window = handle_;
            ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            handle_ = nullptr;
            return ::DefWindowProcA(window, message, wParam, lParam);
        }
        default:
            break;
    }
    return ::DefWindowProcA(handle_, message, wParam, lParam);
}

}  // namespace oup::win32
