// The Color page is its control table and nothing more (pages/PageControls.cpp).
#include "pages/ColorPage.h"

namespace quarvel {

ColorPage::ColorPage()
    : TablePage(kColorTable)
{
}

} // namespace quarvel
