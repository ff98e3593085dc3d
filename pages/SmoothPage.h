// The Smooth page, under the tab "Diffusion": thresholded smoothing, the diffusion glow and
// grain. Radii are sliders in tenths; everything else is the position itself.
#pragma once

#include "pages/TablePage.h"

namespace quarvel {

class SmoothPage : public TablePage {
public:
    SmoothPage();
};

} // namespace quarvel
