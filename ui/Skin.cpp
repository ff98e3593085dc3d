// The dialog's skin: a bitmap over the whole client area, no caption bar (the background drags
// the dialog), and a title banner that toggles the about picture in place of the preview.
#include "ui/MainDialog.h"

#include "platform/Platform.h"
#include "resources/ResourceIds.h"

#include <windowsx.h>

#include <cstring>

namespace quarvel {

namespace {

HINSTANCE instance() { return static_cast<HINSTANCE>(platform::moduleInstance()); }

constexpr int kHighlightWidth = 261;
constexpr int kHighlightHeight = 27;

bool inTitleBanner(POINT p) { return p.x >= 5 && p.x <= 254 && p.y >= 5 && p.y <= 19; }

POINT clientPoint(HWND window, LPARAM screenPosition)
{
    POINT p { GET_X_LPARAM(screenPosition), GET_Y_LPARAM(screenPosition) };
    ScreenToClient(window, &p);
    return p;
}

} // namespace

INT_PTR MainDialog::onPaint(WPARAM, LPARAM)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialogWindow(), &paint);
    if (dc) {
        RECT client {};
        GetClientRect(dialogWindow(), &client);
        if (backgroundBitmap) {
            BitmapContext background(dc, backgroundBitmap.get());
            BitBlt(dc, 0, 0, client.right, client.bottom, background.get(), 0, 0, SRCCOPY);
        }
        if (bannerHighlight) {
            BitmapContext highlight(dc, bannerHighlight.get());
            BitBlt(dc, 0, 0, kHighlightWidth, kHighlightHeight, highlight.get(), 0, 0, SRCCOPY);
        }
    }
    EndPaint(dialogWindow(), &paint);
    return FALSE;
}

INT_PTR MainDialog::onNcHitTest(WPARAM, LPARAM second)
{
    const POINT p = clientPoint(dialogWindow(), second);
    RECT client {};
    GetClientRect(dialogWindow(), &client);
    if (p.x < client.left || p.x > client.right || p.y < client.top || p.y > client.bottom)
        return FALSE;
    SetWindowLongPtrA(dialogWindow(), DWLP_MSGRESULT, inTitleBanner(p) ? HT_BANNER : HTCAPTION);
    return TRUE;
}

INT_PTR MainDialog::onSetCursor(WPARAM, LPARAM second)
{
    if (LOWORD(second) != HT_BANNER)
        return FALSE;
    SetCursor(linkCursor);
    SetWindowLongPtrA(dialogWindow(), DWLP_MSGRESULT, TRUE);
    return TRUE;
}

INT_PTR MainDialog::onNcLButtonDown(WPARAM, LPARAM second)
{
    if (!inTitleBanner(clientPoint(dialogWindow(), second)))
        return FALSE;
    if (bannerHighlight)
        bannerHighlight.reset();
    else
        bannerHighlight.reset(LoadBitmapA(instance(), MAKEINTRESOURCEA(IDB_BANNER_HIGHLIGHT)));
    const RECT banner { 0, 0, kHighlightWidth, kHighlightHeight };
    InvalidateRect(dialogWindow(), &banner, FALSE);
    PostMessageA(dialogWindow(), WMU_SHOW_ABOUT, bannerHighlight ? 1 : 0, 0);
    return FALSE;
}

INT_PTR MainDialog::onShowAbout(WPARAM first, LPARAM)
{
    HWND about = previewFrame ? GetDlgItem(previewFrame, IDC_ABOUT_PICTURE) : nullptr;
    if (imageWindow)
        ShowWindow(imageWindow, first ? SW_HIDE : SW_SHOW);
    if (about)
        ShowWindow(about, first ? SW_SHOW : SW_HIDE);
    return TRUE;
}

INT_PTR MainDialog::onCtlColorStatic(WPARAM first, LPARAM second)
{
    char className[64] = {};
    GetClassNameA(reinterpret_cast<HWND>(second), className, sizeof className);
    if (lstrcmpiA(className, "msctls_trackbar32") == 0)
        return FALSE;
    SetBkMode(reinterpret_cast<HDC>(first), TRANSPARENT);
    SetWindowLongPtrA(dialogWindow(), DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(hollowBrush.get()));
    return reinterpret_cast<INT_PTR>(hollowBrush.get());
}

} // namespace quarvel
