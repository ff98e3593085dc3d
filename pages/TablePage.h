// What the four settings pages share, driven by each page's control table (pages/PageControls.h):
// the dialog procedure, the trackbar set-up, the value labels, the change message and load and
// store in the table's orders. A page brings its table and whatever behaviour is its own.
#pragma once

#include "pages/PageControls.h"
#include "pages/SettingsPage.h"

namespace quarvel {

class TablePage : public SettingsPage {
public:
    ~TablePage() override;

    // Without a window (not made, or destroyed) both do nothing: a page that could not be made
    // must not write its settings away as zeros.
    void load(ParameterStore& document) override;
    void store(ParameterStore& document) override;
    HWND create(HWND parent, HWND notifyTo, UINT message) override;

    // Window messages; each answers as the dialog procedure returns it.
    virtual INT_PTR onInitDialog(WPARAM, LPARAM);
    virtual INT_PTR onHScroll(WPARAM, LPARAM);
    virtual INT_PTR onOK(WPARAM, LPARAM);
    virtual INT_PTR onCancel(WPARAM, LPARAM);
    // Posts the change message to the notify window, both parameters 0.
    INT_PTR notifyChanged(WPARAM, LPARAM);

    static INT_PTR CALLBACK dialogProcedure(HWND, UINT, WPARAM, LPARAM);

protected:
    explicit TablePage(const PageTable& controls)
        : table(controls)
    {
    }

    // A button of the page was clicked: false when the id is not one the page handles. Every check
    // box of the table commits at once.
    virtual bool onButton(int id, WPARAM, LPARAM);
    // One step of load or store, for the control that edits a setting: check boxes and trackbars
    // here, anything else is the page's own.
    virtual void loadControl(ParameterStore& document, const PageControl& control);
    virtual void storeControl(ParameterStore& document, const PageControl& control);

    // The trackbar's position, as its value label shows it.
    void writeLabel(const PageControl& trackbar);
    int position(int trackbarId) const;
    void setPosition(int trackbarId, int newPosition);
    LRESULT sendItem(int id, UINT message, WPARAM, LPARAM) const;

    const PageTable& table;

private:
    INT_PTR routeCommand(WPARAM, LPARAM);
};

} // namespace quarvel
