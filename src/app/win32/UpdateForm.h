// The wizard's window: a fixed-size form with the layout of the wizard,
// whose events it hands to the portable TUpdate, and the services TUpdate
// asks of a window (message boxes, the message pump, the open dialog, the
// cursor, closing).
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Update.h"
#include "app/win32/FormControls.h"
#include "app/win32/FormLayout.h"
#include "app/win32/GdiHandles.h"
#include "app/win32/RestoreWindow.h"
#include "app/win32/WinControls.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {

inline constexpr int kMainIconId = 1;

struct TFormOptions {
    // Lays the form out at this DPI instead of the display's (0).
    int Dpi = 0;
    // Stand-ins for the modal windows, for tests: the message box returns
    // IDOK or IDCANCEL, the open dialog as TFormServices does.
    std::function<int(const std::string& text, const std::string& caption, UINT type)> MessageBoxHook;
    std::function<bool(const std::string& initialDir, std::string& fileName)> OpenDialogHook;
    // Whether destroying the window ends the message loop.
    bool QuitOnDestroy = true;
    // Stands in for the clock of TFormServices::TickCount (milliseconds).
    std::function<int64_t()> Clock;
};

class TUpdateForm final : public TFormServices, private TControlHost {
public:
    TUpdateForm(HINSTANCE instance, TPlatform& platform, TCommandLine commandLine,
                TFormOptions options = {});
    ~TUpdateForm() override;
    TUpdateForm(const TUpdateForm&) = delete;
    TUpdateForm& operator=(const TUpdateForm&) = delete;

    // Creates the window and every control, all hidden, and runs FormCreate.
    // Raises Exception when a window cannot be created.
    void Create();
    // Runs start-up (FormShow) and then shows the window, unless start-up
    // closed the wizard. Returns whether the window is shown.
    bool Show(int showCommand = SW_SHOWNORMAL);
    // Runs the message loop until the window has closed; returns the
    // program's exit status.
    int RunMessageLoop();

    // The form's keys for a message taken off the queue: Tab and Shift+Tab
    // in the form's tab order, Enter for the focused or the default button,
    // Esc for the cancel button, the rest of the dialog keys (access keys,
    // arrows) through IsDialogMessage. True when the message is handled.
    bool PreTranslateMessage(MSG& message);

    // The button Enter presses when no button has the focus: Start when it
    // is shown and enabled, else Next when it is; null when neither is.
    TWinButton* DefaultButton();
    // The button Esc presses: Cancel while it is shown, else Close.
    TWinButton* CancelButton();
    // The windowed controls in tab order.
    std::vector<TWinControl*> TabOrder() { return controls_.TabOrder(); }
    // Lays the form out for another DPI (the window moved to another monitor).
    void ApplyDpi(int dpi);

    HWND Handle() const { return handle_; }
    bool Destroyed() const { return created_ && !handle_; }
    TUpdate& Update() { return *update_; }
    TFormControl* FindControl(const std::string& name) { return controls_.Find(name); }
    TCursorKind CursorKind() const { return cursor_; }
    const TDpiScale& Scale() const override { return scale_; }

    // --- TFormServices ---
    void ProcessMessages() override;
    TMsgResult MessageBox(const std::string& text, const std::string& caption, TMsgKind kind,
                          TMsgButtons buttons) override;
    bool ExecuteOpenDialog(const std::string& initialDir, std::string& fileName) override;
    void SetCursor(TCursorKind cursor) override;
    void ProcessPaintMessages() override;
    void Close() override;
    void ShowRestoreWindow(const std::string& packageFileName) override;
    void SetRestorePercent(int percent) override;
    bool RestoreCancelRequested() override;
    void EndRestoreWindow() override;
    int64_t TickCount() override;
    // The window over a long start-up restore, while it is there.
    TRestoreWindow* RestoreWindow() { return restoreWindow_.get(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The application's general error display.
    void ShowError(const std::string& text) noexcept;

    // --- TControlHost ---
    HWND Window() const override { return handle_; }
    HFONT Font(TFontKind kind) const override;
    int TextWidth(const std::string& text, TFontKind kind) override;
    SIZE TextExtent(const std::string& text, TFontKind kind, UINT format, int width) override;
    void InvalidateArea(const RECT& area) override;
    void PaintNow() override;
    void VisibilityChanged(TFormControl& control) override;

    void RegisterWindowClass();
    void CreateFonts();
    void PlaceAll();
    void SizeToClient(bool centre, const RECT* suggested = nullptr);
    void StackControls();
    void ArrangeContent();
    void Paint();
    void PaintScene(HDC dc);
    bool RequestClose();
    void Click(int id);
    TWinButton* ButtonById(int id);
    TWinButton* FocusedButton();
    TWinControl* FocusedControl();
    void MoveFocus(bool forward);
    void FixFocus();
    void UpdateDefaultFrame();
    void PressButton(TWinButton* button);
    void Detach();

    HINSTANCE instance_;
    TPlatform& platform_;
    TCommandLine commandLine_;
    TFormOptions options_;
    TDpiScale scale_;

    HWND handle_ = nullptr;
    bool created_ = false;
    bool showing_ = false;         // FormShow runs
    bool closeRequested_ = false;  // start-up closed the wizard
    bool closing_ = false;
    TCursorKind cursor_ = TCursorKind::crDefault;
    HWND savedFocus_ = nullptr;

    TFont normalFont_, boldFont_;
    TBrush formBrush_;
    TMemoryDC measureDC_;
    TSystemLibrary shell32_;  // the stock animation clips; WinMain imports it already
    // Uses the fonts above, so it goes before them.
    std::unique_ptr<TRestoreWindow> restoreWindow_;

    TFormControls controls_;
    // Declared after the controls it points at, so it goes first.
    std::unique_ptr<TUpdate> update_;
};

}  // namespace oup::win32
