// The plug-in's modal dialog: four settings pages in a tab control beside a live preview of the
// whole image, on a bitmap skin without a caption bar. It never touches pixels: it stores the
// pages into the document when the user commits a change and asks the controller for a run,
// which may call back into it from inside its own progress reports (see pumpMessages).
#pragma once

#include "control/DialogView.h"
#include "ui/GdiObject.h"
#include "ui/PreviewLayout.h"

#include <windows.h>

namespace quarvel {

class SettingsPage;
class PresetManagerWindow;

// Private messages, always posted.
constexpr UINT WMU_SHOW_ABOUT = WM_USER + 145;
constexpr UINT WMU_PRESET_EVENT = WM_USER + 146;

// Hit-test answer for the title banner, which shows the about picture when clicked.
constexpr LRESULT HT_BANNER = 101;

class MainDialog : public DialogView {
public:
    MainDialog();
    ~MainDialog() override;

    void setSourcePreview(const ImageBuffer& image) override;
    void setProcessedPreview(const ImageBuffer& image) override;
    int run(intptr_t parentWindow, ParameterStore* parameters) override;
    const char* name() const override { return "Quillmarsh"; }
    void progress(int state, int32_t done, int32_t total) override;

    // Window messages; each answers as a dialog procedure does (TRUE: handled).
    virtual INT_PTR onInitDialog(WPARAM, LPARAM);
    virtual INT_PTR onNcHitTest(WPARAM, LPARAM);
    virtual INT_PTR onPaint(WPARAM, LPARAM);
    virtual INT_PTR onCtlColorStatic(WPARAM, LPARAM);
    virtual INT_PTR onSetCursor(WPARAM, LPARAM);
    virtual INT_PTR onNcLButtonDown(WPARAM, LPARAM);
    virtual INT_PTR onShowAbout(WPARAM, LPARAM);
    virtual INT_PTR onParamsChanged(WPARAM, LPARAM);
    virtual INT_PTR onNotify(WPARAM, LPARAM);
    virtual INT_PTR onPresetEvent(WPARAM, LPARAM);
    // The image window's messages.
    virtual INT_PTR onPreviewPaint(WPARAM, LPARAM);
    virtual INT_PTR onPreviewLButtonDown(WPARAM, LPARAM);
    virtual INT_PTR onPreviewLButtonUp(WPARAM, LPARAM);
    virtual INT_PTR onPreviewMouseMove(WPARAM, LPARAM);
    virtual INT_PTR onPreviewSetCursor(WPARAM, LPARAM);
    // Commands, by control id.
    virtual INT_PTR onOK(WPARAM, LPARAM);
    virtual INT_PTR onCancel(WPARAM, LPARAM);
    virtual INT_PTR onByPass(WPARAM, LPARAM);
    virtual INT_PTR onZoomIn(WPARAM, LPARAM);
    virtual INT_PTR onZoomOut(WPARAM, LPARAM);
    virtual INT_PTR onPresetButton(WPARAM, LPARAM);
    virtual INT_PTR onHelp(WPARAM, LPARAM);

    SettingsPage* pages[4] = {};
    HWND imageWindow = nullptr;
    HWND previewFrame = nullptr;
    // Where the whole zoomed image lies in the frame's client area; the image window covers the
    // part of it that the frame shows.
    PixelRect imageRect;
    GdiObject<HBITMAP> sourceBitmap;
    GdiObject<HBITMAP> processedBitmap;
    int zoomPercent = 100;
    int stretchMode = COLORONCOLOR;
    bool byPass = false;
    int previewWidth = 0;
    int previewHeight = 0;
    int panLastX = 0;
    int panLastY = 0;
    GdiObject<HBRUSH> hollowBrush;
    GdiObject<HBITMAP> backgroundBitmap;
    HCURSOR moveCursor = nullptr;
    HCURSOR linkCursor = nullptr;
    GdiObject<HBITMAP> bannerHighlight;
    ParameterStore* document = nullptr;
    PresetManagerWindow* presetWindow = nullptr;

    static INT_PTR CALLBACK dialogProcedure(HWND, UINT, WPARAM, LPARAM);
    static INT_PTR CALLBACK imageWindowProcedure(HWND, UINT, WPARAM, LPARAM);

private:
    HWND dialogWindow() const { return reinterpret_cast<HWND>(window); }
    INT_PTR routeCommand(WPARAM, LPARAM);
    void pumpMessages();
    void createPreviewWindows();
    void createPages();
    void transferPages(bool load);
    void showPage(int index);
    void layoutPreview();
    void placeImageWindow(bool repaint);
    void makePreviewBitmap(GdiObject<HBITMAP>& slot, const ImageBuffer& image);
    void zoomTo(int zoom);
    void readSettingsFile();
    void writeSettingsFile();
    // The part of the screen where a remembered window may go; the caller deletes it.
    HRGN buildVisibleScreenRegion();

    static constexpr DWORD kPumpInterval = 25; // milliseconds between two pumps of a run
    DWORD lastPump_ = 0; // tick of the run's last pump; 0: none yet
};

} // namespace quarvel
