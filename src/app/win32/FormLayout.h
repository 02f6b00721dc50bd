// The wizard window's layout in 96-dpi pixels, and its scaling to the
// display's DPI. Everything on the form is placed from these numbers, so a
// change of DPI only has to lay the form out again.
#pragma once
#include "platform/win32/WinApi.h"

namespace oup::win32 {

struct TLayoutRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
};

inline constexpr int kBaseDpi = 96;
inline constexpr int kClientWidth = 527;
inline constexpr int kClientHeight = 297;

inline constexpr COLORREF kFormColor = RGB(0x3D, 0x66, 0xAB);
inline constexpr COLORREF kHeaderColor = RGB(0x22, 0x32, 0x60);        // Panel1
inline constexpr COLORREF kInstructionsColor = RGB(0x3A, 0x55, 0xA5);  // Panel2
inline constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

// The two bands the labels and pictures on the left and at the top live in.
inline constexpr TLayoutRect kPanel1 = {0, 0, kClientWidth, 53};
inline constexpr TLayoutRect kPanel2 = {0, 53, 169, 244};

// Pictures and the separator line (relative to their band, or to the form).
inline constexpr TLayoutRect kImage1 = {-29, -88, 198, 421};  // in Panel2, clipped by it
inline constexpr TLayoutRect kImage4 = {15, 112, 134, 145};   // in Panel2
inline constexpr TLayoutRect kImage2 = {168, 0, 1, 244};      // in Panel2, its right edge
inline constexpr TLayoutRect kImage3 = {0, 52, kClientWidth, 1};  // in Panel1, its bottom edge
inline constexpr TLayoutRect kBevel2 = {180, 252, 337, 5};

// The content area the lists, the memo and the content label share.
inline constexpr TLayoutRect kContentArea = {180, 64, 337, 177};
// Gap between the warning of page 5 and the memo below it.
inline constexpr int kWarningGap = 6;

// Maps 96-dpi pixels to device pixels. Edges are scaled, not sizes, so two
// controls that touch at 96 dpi still touch at any scale.
class TDpiScale {
public:
    explicit TDpiScale(int dpi = kBaseDpi) : dpi_(dpi > 0 ? dpi : kBaseDpi) {}
    int Dpi() const { return dpi_; }
    int operator()(int value) const { return ::MulDiv(value, dpi_, kBaseDpi); }
    // Device pixels back to 96-dpi pixels.
    int Unscale(int value) const { return ::MulDiv(value, kBaseDpi, dpi_); }
    RECT Rect(const TLayoutRect& r, int offsetX = 0, int offsetY = 0) const {
        const int left = r.Left + offsetX, top = r.Top + offsetY;
        return RECT{(*this)(left), (*this)(top), (*this)(left + r.Width), (*this)(top + r.Height)};
    }

private:
    int dpi_;
};

}  // namespace oup::win32
