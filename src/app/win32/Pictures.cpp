#include "app/win32/Pictures.h"

#include <algorithm>
#include <iterator>

#include "app/win32/GdiHandles.h"

namespace oup::win32 {

namespace {

// Colours of the pictures. None of them equals the form's, the header's or
// the instructions band's own colour, so those stay recognisable on screen.
constexpr COLORREF kBackdropTop = RGB(0x4A, 0x6B, 0xBF);
constexpr COLORREF kBackdropBottom = RGB(0x1F, 0x34, 0x75);
constexpr COLORREF kBackdropRing = RGB(0x58, 0x77, 0xC6);
constexpr COLORREF kEdgeLight = RGB(0x7F, 0x9B, 0xDB);
constexpr COLORREF kHeaderEdgeDark = RGB(0x2A, 0x3C, 0x70);
constexpr COLORREF kPanelEdgeDark = RGB(0x33, 0x4C, 0x98);
constexpr COLORREF kBoxTop = RGB(0xA9, 0xC0, 0xEE);
constexpr COLORREF kBoxLeft = RGB(0x7C, 0x9B, 0xDD);
constexpr COLORREF kBoxRight = RGB(0x5C, 0x7F, 0xCB);
constexpr COLORREF kBoxEdge = RGB(0xE8, 0xEE, 0xFA);
constexpr COLORREF kArrow = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kArrowEdge = RGB(0xC9, 0xD6, 0xF2);

COLORREF Blend(COLORREF from, COLORREF to, int step, int steps) {
    if (steps <= 1) return from;
    auto channel = [&](int a, int b) { return a + (b - a) * step / (steps - 1); };
    return RGB(channel(GetRValue(from), GetRValue(to)), channel(GetGValue(from), GetGValue(to)),
               channel(GetBValue(from), GetBValue(to)));
}

// Points of the emblem in its own 134 x 145 picture, at 96 dpi.
struct TPt {
    int X, Y;
};

void Polygon(HDC dc, const RECT& area, const TDpiScale& scale, const TPt* points, int count,
             COLORREF fill, COLORREF edge) {
    POINT device[8];
    count = std::min(count, static_cast<int>(std::size(device)));
    for (int i = 0; i < count; ++i)
        device[i] = {area.left + scale(points[i].X), area.top + scale(points[i].Y)};
    const TBrush brush(::CreateSolidBrush(fill));
    const TPen pen(::CreatePen(PS_SOLID, std::max(1, scale(1)), edge));
    const TSelectObject selectBrush(dc, brush.Get());
    const TSelectObject selectPen(dc, pen.Get());
    ::Polygon(dc, device, count);
}

}  // namespace

void FillSolid(HDC dc, const RECT& area, COLORREF color) {
    ::SetDCBrushColor(dc, color);
    ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

void FillGradient(HDC dc, const RECT& area, COLORREF from, COLORREF to, bool vertical) {
    const int steps = vertical ? area.bottom - area.top : area.right - area.left;
    for (int i = 0; i < steps; ++i) {
        RECT line = area;
        if (vertical) {
            line.top = area.top + i;
            line.bottom = line.top + 1;
        } else {
            line.left = area.left + i;
            line.right = line.left + 1;
        }
        FillSolid(dc, line, Blend(from, to, i, steps));
    }
}

void DrawBackdrop(HDC dc, const RECT& area, const TDpiScale& scale) {
    FillGradient(dc, area, kBackdropTop, kBackdropBottom, true);
    // A few wide rings round a point low on the left, like ripples.
    const TPen pen(::CreatePen(PS_SOLID, std::max(1, scale(2)), kBackdropRing));
    const TSelectObject selectPen(dc, pen.Get());
    const TSelectObject selectBrush(dc, ::GetStockObject(NULL_BRUSH));
    const int cx = area.left + scale(40), cy = area.bottom - scale(70);
    for (int radius : {90, 150, 215, 285}) {
        const int r = scale(radius);
        ::Ellipse(dc, cx - r, cy - r, cx + r, cy + r);
    }
}

void DrawEmblem(HDC dc, const RECT& area, const TDpiScale& scale) {
    static constexpr TPt kTop[] = {{27, 78}, {67, 60}, {107, 78}, {67, 96}};
    static constexpr TPt kLeft[] = {{27, 78}, {67, 96}, {67, 136}, {27, 118}};
    static constexpr TPt kRight[] = {{67, 96}, {107, 78}, {107, 118}, {67, 136}};
    static constexpr TPt kArrowShape[] = {{58, 6}, {76, 6}, {76, 42}, {92, 42},
                                          {67, 70}, {42, 42}, {58, 42}};
    Polygon(dc, area, scale, kLeft, 4, kBoxLeft, kBoxEdge);
    Polygon(dc, area, scale, kRight, 4, kBoxRight, kBoxEdge);
    Polygon(dc, area, scale, kTop, 4, kBoxTop, kBoxEdge);
    Polygon(dc, area, scale, kArrowShape, 7, kArrow, kArrowEdge);
}

void DrawBandEdgeVertical(HDC dc, const RECT& area) {
    FillGradient(dc, area, kEdgeLight, kPanelEdgeDark, true);
}

void DrawBandEdgeHorizontal(HDC dc, const RECT& area) {
    FillGradient(dc, area, kEdgeLight, kHeaderEdgeDark, false);
}

void DrawTopLine(HDC dc, const RECT& area, const TDpiScale& scale) {
    const int thickness = std::max(1, scale(1));
    RECT shadow{area.left, area.top, area.right, area.top + thickness};
    RECT light{area.left, area.top + thickness, area.right, area.top + 2 * thickness};
    FillSolid(dc, shadow, ::GetSysColor(COLOR_BTNSHADOW));
    FillSolid(dc, light, ::GetSysColor(COLOR_BTNHIGHLIGHT));
}

}  // namespace oup::win32
