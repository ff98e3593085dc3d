// The "Dynamic Range" tab, shown first: shadow and highlight recovery, auto exposure, preserving
// the original colour, gamma and contrast. Every control maps straight onto its setting; the
// check boxes commit at once, the sliders when released.
#pragma once

#include "pages/TablePage.h"

namespace quarvel {

class DynamicRangePage : public TablePage {
public:
    DynamicRangePage();
};

} // namespace quarvel
