// The preview pane: a frame that clips an image window as large as the zoomed image, which the
// user drags to pan. Bitmaps are made once per run; zooming and panning only move and stretch.
#include "ui/MainDialog.h"
#include "ui/PreviewLayout.h"

#include "platform/Platform.h"
#include "resources/ResourceIds.h"

#include <windowsx.h>

namespace quarvel {

namespace {

HINSTANCE instance() { return static_cast<HINSTANCE>(platform::moduleInstance()); }

// The frame is a plain container: everything it needs is the default dialog behaviour.
INT_PTR CALLBACK framePaneProcedure(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

PixelRect toPixelRect(const RECT& r) { return { r.left, r.top, r.right, r.bottom }; }

POINT messagePosition()
{
    // The screen position, not the message's client coordinates: those are 16-bit and wrap in
    // an image window zoomed beyond 32767 pixels.
    const DWORD position = GetMessagePos();
    return { GET_X_LPARAM(position), GET_Y_LPARAM(position) };
}

} // namespace

INT_PTR CALLBACK MainDialog::imageWindowProcedure(HWND hwnd, UINT message, WPARAM first, LPARAM second)
{
    auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(GetParent(GetParent(hwnd)), DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_PAINT:
        return self->onPreviewPaint(first, second);
    case WM_LBUTTONDOWN:
        return self->onPreviewLButtonDown(first, second);
    case WM_LBUTTONUP:
        return self->onPreviewLButtonUp(first, second);
    case WM_MOUSEMOVE:
        return self->onPreviewMouseMove(first, second);
    case WM_SETCURSOR:
        return self->onPreviewSetCursor(first, second);
    default:
        return FALSE;
    }
}

void MainDialog::createPreviewWindows()
{
    previewFrame = CreateDialogParamA(
        instance(), MAKEINTRESOURCEA(IDD_PREVIEW_FRAME), dialogWindow(), framePaneProcedure, 0);
    if (!previewFrame)
        return;
    MoveWindow(previewFrame, 3, 48, 530, 471, TRUE);
    imageWindow = CreateDialogParamA(
        instance(), MAKEINTRESOURCEA(IDD_IMAGE_WINDOW), previewFrame, imageWindowProcedure, 0);
    if (!imageWindow)
        return;
    RECT client {};
    GetClientRect(previewFrame, &client);
    imageRect = toPixelRect(client);
    MoveWindow(imageWindow, 0, 0, client.right, client.bottom, TRUE);
}

void MainDialog::placeImageWindow(bool repaint)
{
    RECT frame {};
    GetClientRect(previewFrame, &frame);
    const PixelRect shown = visiblePart(imageRect, frame.right, frame.bottom);
    MoveWindow(imageWindow, int(shown.left), int(shown.top), int(shown.right - shown.left),
        int(shown.bottom - shown.top), repaint);
}

void MainDialog::setSourcePreview(const ImageBuffer& image)
{
    previewWidth = image.cols;
    previewHeight = image.rows;
    makePreviewBitmap(sourceBitmap, image);
    layoutPreview();
}

void MainDialog::setProcessedPreview(const ImageBuffer& image)
{
    previewWidth = image.cols;
    previewHeight = image.rows;
    makePreviewBitmap(processedBitmap, image);
    layoutPreview();
}

void MainDialog::makePreviewBitmap(GdiObject<HBITMAP>& slot, const ImageBuffer& image)
{
    slot.reset();
    if (!image.data || image.cols <= 0 || image.rows <= 0)
        return;
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.cols;
    info.bmiHeader.biHeight = -image.rows; // rows from the top down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = WORD(image.channels * image.bits);
    info.bmiHeader.biCompression = BI_RGB;
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!display)
        return;
    // May fail for a huge image; the slot then stays empty and painting draws nothing.
    slot.reset(CreateDIBitmap(display, &info.bmiHeader, CBM_INIT, image.data, &info, DIB_RGB_COLORS));
    DeleteDC(display);
}

void MainDialog::layoutPreview()
{
    if (!imageWindow || !previewFrame)
        return;
    RECT frame {};
    GetClientRect(previewFrame, &frame);
    const int width = zoomedSize(previewWidth, zoomPercent);
    const int height = zoomedSize(previewHeight, zoomPercent);
    const int x
        = placeAlongAxis(frame.right, int(imageRect.left), int(imageRect.right - imageRect.left), width);
    const int y
        = placeAlongAxis(frame.bottom, int(imageRect.top), int(imageRect.bottom - imageRect.top), height);
    imageRect = { x, y, int64_t(x) + width, int64_t(y) + height };
    placeImageWindow(false);
    InvalidateRect(previewFrame, nullptr, TRUE);
    InvalidateRect(imageWindow, nullptr, FALSE);
}

INT_PTR MainDialog::onZoomIn(WPARAM, LPARAM)
{
    const int zoom = zoomIn(zoomPercent);
    if (zoom != zoomPercent)
        zoomTo(zoom);
    return TRUE;
}

INT_PTR MainDialog::onZoomOut(WPARAM, LPARAM)
{
    const int zoom = zoomOut(zoomPercent);
    if (zoom != zoomPercent)
        zoomTo(zoom);
    return TRUE;
}

void MainDialog::zoomTo(int zoom)
{
    zoomPercent = zoom;
    stretchMode = zoom < 100 ? HALFTONE : COLORONCOLOR;
    if (HWND label = GetDlgItem(dialogWindow(), IDC_ZOOM_LABEL)) {
        SetWindowTextA(label, zoomLabel(zoom).c_str());
        // The label is transparent: the skin behind it must be repainted before the new text.
        RECT area {};
        GetWindowRect(label, &area);
        MapWindowPoints(nullptr, dialogWindow(), reinterpret_cast<POINT*>(&area), 2);
        InvalidateRect(dialogWindow(), &area, FALSE);
    }
    layoutPreview();
}

INT_PTR MainDialog::onPreviewPaint(WPARAM, LPARAM)
{
    if (!imageWindow)
        return FALSE;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(imageWindow, &paint);
    // Until the first run has completed there is no processed image to show.
    HBITMAP shown = byPass ? sourceBitmap.get() : processedBitmap.get();
    if (dc && shown) {
        BitmapContext bitmap(dc, shown);
        SetStretchBltMode(dc, stretchMode);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        // The window's origin lies this far into the zoomed image.
        RECT shownPart {};
        GetWindowRect(imageWindow, &shownPart);
        MapWindowPoints(nullptr, previewFrame, reinterpret_cast<POINT*>(&shownPart), 2);
        const int64_t offsetX = shownPart.left - imageRect.left, offsetY = shownPart.top - imageRect.top;
        const int64_t width = imageRect.right - imageRect.left, height = imageRect.bottom - imageRect.top;
        if (zoomPercent <= 100) {
            StretchBlt(dc, int(-offsetX), int(-offsetY), int(width), int(height), bitmap.get(), 0, 0,
                previewWidth, previewHeight, SRCCOPY);
        } else {
            // Enlarged, only the bitmap under the part being painted: the whole image may be
            // 327670 pixels wide, far beyond what a drawing call takes.
            const PixelRect wanted { paint.rcPaint.left + offsetX, paint.rcPaint.top + offsetY,
                paint.rcPaint.right + offsetX, paint.rcPaint.bottom + offsetY };
            const StretchPart part
                = stretchPartFor(wanted, previewWidth, previewHeight, int(width), int(height));
            StretchBlt(dc, int(part.destination.left - offsetX), int(part.destination.top - offsetY),
                int(part.destination.right - part.destination.left),
                int(part.destination.bottom - part.destination.top), bitmap.get(), int(part.source.left),
                int(part.source.top), int(part.source.right - part.source.left),
                int(part.source.bottom - part.source.top), SRCCOPY);
        }
    }
    EndPaint(imageWindow, &paint);
    return TRUE;
}

INT_PTR MainDialog::onPreviewLButtonDown(WPARAM, LPARAM)
{
    if (GetCapture() == imageWindow)
        return TRUE;
    const POINT at = messagePosition();
    panLastX = at.x;
    panLastY = at.y;
    SetCapture(imageWindow);
    return FALSE;
}

INT_PTR MainDialog::onPreviewLButtonUp(WPARAM, LPARAM)
{
    if (GetCapture() != imageWindow)
        return TRUE;
    ReleaseCapture();
    return FALSE;
}

INT_PTR MainDialog::onPreviewMouseMove(WPARAM, LPARAM)
{
    if (GetCapture() != imageWindow)
        return TRUE;
    const POINT at = messagePosition();
    int dx = at.x - panLastX;
    int dy = at.y - panLastY;
    panLastX = at.x;
    panLastY = at.y;
    RECT frame {};
    GetClientRect(previewFrame, &frame);
    dx = allowedPanStep(dx, int(imageRect.left), int(imageRect.right), frame.right);
    dy = allowedPanStep(dy, int(imageRect.top), int(imageRect.bottom), frame.bottom);
    if (dx == 0 && dy == 0)
        return TRUE;
    imageRect = { imageRect.left + dx, imageRect.top + dy, imageRect.right + dx, imageRect.bottom + dy };
    placeImageWindow(true);
    // Moving a window that stays the frame's size brings no new part of it to paint.
    InvalidateRect(imageWindow, nullptr, FALSE);
    return FALSE;
}

INT_PTR MainDialog::onPreviewSetCursor(WPARAM, LPARAM)
{
    RECT frame {};
    GetClientRect(previewFrame, &frame);
    if (containsRect(toPixelRect(frame), imageRect))
        return FALSE;
    SetCursor(moveCursor);
    SetWindowLongPtrA(imageWindow, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

} // namespace quarvel
