// The wizard's pictures, drawn with GDI at the form's scale: the backdrop of
// the instructions band, the emblem over it, the two one-pixel gradient lines
// that edge the bands, and the separator line above the buttons.
#pragma once
#include "app/win32/FormLayout.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {

void FillSolid(HDC dc, const RECT& area, COLORREF color);
// A gradient from one colour to the other, top to bottom or left to right.
void FillGradient(HDC dc, const RECT& area, COLORREF from, COLORREF to, bool vertical);

// Image1: the backdrop of the instructions band. area is the picture's whole
// rectangle; the caller clips it to the band.
void DrawBackdrop(HDC dc, const RECT& area, const TDpiScale& scale);
// Image4: a package with an arrow going into it, over the backdrop.
void DrawEmblem(HDC dc, const RECT& area, const TDpiScale& scale);
// Image2 and Image3.
void DrawBandEdgeVertical(HDC dc, const RECT& area);
void DrawBandEdgeHorizontal(HDC dc, const RECT& area);
// Bevel2: a lowered line along the top edge of the area.
void DrawTopLine(HDC dc, const RECT& area, const TDpiScale& scale);

}  // namespace oup::win32
