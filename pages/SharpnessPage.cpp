// The Sharpness page: its table (pages/PageControls.cpp) plus the method's layouts and the linked
// radius sliders. The sharpening reads only the shadow radius, so the highlight radius follows it
// and both are always stored equal when the user sets them.
#include "pages/SharpnessPage.h"

#include "resources/ResourceIds.h"
#include "settings/ParameterStore.h"

#include <commctrl.h>

namespace quarvel {
namespace {

// What normal sharpening hides: the whole highlight group, its separator, and the first group's
// Tonal Width.
constexpr int kHighlightShadowOnly[] = {
    IDC_HI_SHARP_TITLE,
    IDC_HI_SHARP_AMOUNT_CAPTION,
    IDC_HI_SHARP_AMOUNT,
    IDC_HI_SHARP_AMOUNT_VALUE,
    IDC_HI_SHARP_EDGE_CAPTION,
    IDC_HI_SHARP_EDGE,
    IDC_HI_SHARP_EDGE_VALUE,
    IDC_HI_SHARP_RADIUS_CAPTION,
    IDC_HI_SHARP_RADIUS,
    IDC_HI_SHARP_RADIUS_VALUE,
    IDC_HI_SHARP_THRESHOLD_CAPTION,
    IDC_HI_SHARP_THRESHOLD,
    IDC_HI_SHARP_THRESHOLD_VALUE,
    IDC_HI_SHARP_TONAL_CAPTION,
    IDC_HI_SHARP_TONAL,
    IDC_HI_SHARP_TONAL_VALUE,
    IDC_HI_SHARP_SEPARATOR,
    IDC_SH_SHARP_TONAL_CAPTION,
    IDC_SH_SHARP_TONAL,
    IDC_SH_SHARP_TONAL_VALUE,
};

} // namespace

SharpnessPage::SharpnessPage()
    : TablePage(kSharpnessTable)
{
}

bool SharpnessPage::onButton(int id, WPARAM wParam, LPARAM lParam)
{
    switch (id) {
    case IDC_SHARP_NORMAL:
        layoutNormal(wParam, lParam);
        return true;
    case IDC_SHARP_HILIGHT_SHADOW:
        layoutHighlightShadow(wParam, lParam);
        return true;
    }
    return TablePage::onButton(id, wParam, lParam);
}

INT_PTR SharpnessPage::onHScroll(WPARAM wParam, LPARAM lParam)
{
    const INT_PTR result = TablePage::onHScroll(wParam, lParam);
    if (LOWORD(wParam) < TB_ENDTRACK) {
        switch (GetDlgCtrlID(reinterpret_cast<HWND>(lParam))) {
        case IDC_HI_SHARP_RADIUS:
            follow(IDC_HI_SHARP_RADIUS, IDC_SH_SHARP_RADIUS);
            break;
        case IDC_SH_SHARP_RADIUS:
            follow(IDC_SH_SHARP_RADIUS, IDC_HI_SHARP_RADIUS);
            break;
        }
    }
    return result;
}

INT_PTR SharpnessPage::layoutNormal(WPARAM wParam, LPARAM lParam)
{
    SetDlgItemTextA(window, IDC_SH_SHARP_TITLE, "Sharpen");
    showHighlightGroup(false);
    return notifyChanged(wParam, lParam);
}

INT_PTR SharpnessPage::layoutHighlightShadow(WPARAM wParam, LPARAM lParam)
{
    SetDlgItemTextA(window, IDC_SH_SHARP_TITLE, "Shadow Sharpen");
    showHighlightGroup(true);
    return notifyChanged(wParam, lParam);
}

void SharpnessPage::loadControl(ParameterStore& document, const PageControl& control)
{
    if (control.kind != ControlKind::RadioButton) {
        TablePage::loadControl(document, control);
        return;
    }
    int32_t method = 0;
    document.getInt(settingInfo(control.setting).name, &method, 0);
    const bool normal = method == 0;
    sendItem(IDC_SHARP_NORMAL, BM_SETCHECK, normal ? BST_CHECKED : BST_UNCHECKED, 0);
    sendItem(IDC_SHARP_HILIGHT_SHADOW, BM_SETCHECK, normal ? BST_UNCHECKED : BST_CHECKED, 0);
    if (normal)
        layoutNormal(0, 0);
    else
        layoutHighlightShadow(0, 0);
}

void SharpnessPage::storeControl(ParameterStore& document, const PageControl& control)
{
    if (control.kind != ControlKind::RadioButton) {
        TablePage::storeControl(document, control);
        return;
    }
    const bool normal = sendItem(IDC_SHARP_NORMAL, BM_GETCHECK, 0, 0) == BST_CHECKED;
    document.setInt(settingInfo(control.setting).name, normal ? 0 : 1);
}

void SharpnessPage::showHighlightGroup(bool show)
{
    for (const int id : kHighlightShadowOnly)
        ShowWindow(GetDlgItem(window, id), show ? SW_SHOW : SW_HIDE);
}

void SharpnessPage::follow(int leaderId, int followerId)
{
    setPosition(followerId, position(leaderId));
    writeLabel(*findControl(table, followerId));
}

} // namespace quarvel
