// The small window over a long start-up restore: caption "Ostrel Update"
// (the wizard's is "Ostrel Update 2002"), the package's file name, a
// progress bar and Cancel, laid out at the wizard's DPI in the wizard's font.
// Esc presses Cancel; a close of the window (Alt+F4, the close box) acts as
// Cancel too. The restore asks whether Cancel was pressed after every block.
#pragma once
#include <string>

#include "app/win32/FormLayout.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {

// In 96-dpi pixels.
inline constexpr int kRestoreClientWidth = 360;
inline constexpr int kRestoreClientHeight = 103;
inline constexpr TLayoutRect kRestoreFileName = {12, 12, 336, 16};
inline constexpr TLayoutRect kRestoreBar = {12, 36, 336, 18};
inline constexpr TLayoutRect kRestoreCancel = {273, 66, 75, 25};
inline constexpr const char* kRestoreCancelCaption = "Cancel";

class TRestoreWindow {
public:
    // Shows the window at once, centred on the monitor of nearWindow.
    // Raises Exception when it cannot be created.
    TRestoreWindow(HINSTANCE instance, const TDpiScale& scale, HFONT font,
                   const std::string& fileName, HWND nearWindow);
    ~TRestoreWindow();
    TRestoreWindow(const TRestoreWindow&) = delete;
    TRestoreWindow& operator=(const TRestoreWindow&) = delete;

    HWND Handle() const { return handle_; }
    void SetPercent(int percent);
    int Percent() const { return percent_; }
    bool CancelRequested() const { return cancelled_; }
    // The restore is over: Cancel has nothing left to stop.
    void Finish();
    // The window's keys for a message taken off the queue: Esc for Cancel,
    // the dialog keys for the button. True when the message was handled.
    bool PreTranslateMessage(MSG& message);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreateChild(HINSTANCE instance, const char* className, const std::string& text,
                     DWORD style, const TLayoutRect& bounds, int id, HFONT font);
    void Cancel();

    TDpiScale scale_;
    HWND handle_ = nullptr;
    HWND bar_ = nullptr;
    HWND button_ = nullptr;
    int percent_ = 0;
    bool cancelled_ = false;
    bool finished_ = false;
};

}  // namespace oup::win32
