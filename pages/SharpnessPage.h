// The "Sharpness" tab: normal sharpening, or separate shadow and highlight sharpening. The
// method's radio buttons show or hide the highlight group; normal sharpening uses the first
// (shadow) group alone, titled "Sharpen". The two radius sliders move together.
#pragma once

#include "pages/TablePage.h"

namespace quarvel {

class SharpnessPage : public TablePage {
public:
    SharpnessPage();

    INT_PTR onHScroll(WPARAM, LPARAM) override;
    // "Normal Sharpening" and "Highlight/Shadow Sharpening": each lays the page out and commits.
    INT_PTR layoutNormal(WPARAM, LPARAM);
    INT_PTR layoutHighlightShadow(WPARAM, LPARAM);

protected:
    bool onButton(int id, WPARAM, LPARAM) override;
    // The method: "Normal Sharpening" is 0, any other value selects the other button. Loading it
    // lays the page out, so every load of this page posts exactly one change message.
    void loadControl(ParameterStore& document, const PageControl& control) override;
    void storeControl(ParameterStore& document, const PageControl& control) override;

private:
    void showHighlightGroup(bool show);
    void follow(int leaderId, int followerId);
};

} // namespace quarvel
