// The "Color" tab: density, saturation and auto colour balance, with the colour group's enable
// switch. Every control maps straight onto its setting.
#pragma once

#include "pages/TablePage.h"

namespace quarvel {

class ColorPage : public TablePage {
public:
    ColorPage();
};

} // namespace quarvel
