// The main window's painting on Win32: the nine drawing objects, the WM_PAINT
// handler and the printed graph on a printer DC. Window thread only.
#pragma once

#include <windows.h>

// Created by createDisplayObjects (WM_CREATE), deleted by
// deleteDisplayObjects (WM_DESTROY), in this order. A creation that fails
// leaves a null handle, which the painting then skips.
extern HFONT labelFont;
extern HFONT readingFont;
extern HFONT valueFont;
extern HFONT axisFont;
extern HBRUSH panelBrush;
extern HPEN curvePen;
extern HPEN axisPen;
extern HPEN limitPen;
extern HPEN erasePen;

void createDisplayObjects();
void deleteDisplayObjects();

// The WM_PAINT branch: BeginPaint, the client area's content, EndPaint. The
// flags are tested after BeginPaint, whose WM_ERASEBKGND sets redrawAll. The
// window procedure passes the message on to DefWindowProcW afterwards.
void paintMainWindow(HWND window);

// The trend graph on a printer DC, (x, y) the left end of the time axis.
void drawPrintAxes(HDC dc, int x, int y);
void drawPrintTrend(HDC dc, int x, int y);
