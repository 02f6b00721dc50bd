// Owning wrappers for the GDI and module handles of the form: fonts, brushes
// and bitmaps deleted once, device contexts released or deleted, objects
// selected into a DC put back when the scope ends.
#pragma once
#include <utility>

#include "platform/win32/WinApi.h"

namespace oup::win32 {

// A font, brush, pen or bitmap, deleted with DeleteObject.
template <typename T>
class TGdiObject {
public:
    TGdiObject() = default;
    explicit TGdiObject(T object) : object_(object) {}
    TGdiObject(const TGdiObject&) = delete;
    TGdiObject& operator=(const TGdiObject&) = delete;
    TGdiObject(TGdiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    TGdiObject& operator=(TGdiObject&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    ~TGdiObject() { Reset(); }

    T Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset(T object = nullptr) {
        if (object_) ::DeleteObject(object_);
        object_ = object;
    }

private:
    T object_ = nullptr;
};

using TFont = TGdiObject<HFONT>;
using TBrush = TGdiObject<HBRUSH>;
using TPen = TGdiObject<HPEN>;
using TBitmap = TGdiObject<HBITMAP>;

// A memory DC, compatible with the given one (or the screen), deleted at the end.
class TMemoryDC {
public:
    explicit TMemoryDC(HDC compatibleWith = nullptr) : dc_(::CreateCompatibleDC(compatibleWith)) {}
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;
    ~TMemoryDC() {
        if (dc_) ::DeleteDC(dc_);
    }
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// A window's DC from GetDC, released at the end.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    ~TWindowDC() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a DC for the length of a scope.
class TSelectObject {
public:
    TSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;
    ~TSelectObject() {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Saves a DC's state (clip region, colours, mode) and restores it at the end.
class TSaveDC {
public:
    explicit TSaveDC(HDC dc) : dc_(dc), saved_(::SaveDC(dc)) {}
    TSaveDC(const TSaveDC&) = delete;
    TSaveDC& operator=(const TSaveDC&) = delete;
    ~TSaveDC() {
        if (saved_) ::RestoreDC(dc_, saved_);
    }

private:
    HDC dc_;
    int saved_;
};

// BeginPaint and EndPaint around a WM_PAINT handler.
class TPaintDC {
public:
    explicit TPaintDC(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    TPaintDC(const TPaintDC&) = delete;
    TPaintDC& operator=(const TPaintDC&) = delete;
    ~TPaintDC() { ::EndPaint(window_, &paint_); }
    HDC Get() const { return dc_; }
    const RECT& Area() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace oup::win32
