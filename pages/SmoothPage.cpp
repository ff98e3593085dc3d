// The Smooth page is its control table and nothing more (pages/PageControls.cpp); it posts
// nothing when it loads.
#include "pages/SmoothPage.h"

namespace quarvel {

SmoothPage::SmoothPage()
    : TablePage(kSmoothTable)
{
}

} // namespace quarvel
