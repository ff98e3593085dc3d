// The Dynamic Range page is its control table and nothing more (pages/PageControls.cpp); unlike
// the Sharpness page it posts nothing when it loads.
#include "pages/DynamicRangePage.h"

namespace quarvel {

DynamicRangePage::DynamicRangePage()
    : TablePage(kDynamicRangeTable)
{
}

} // namespace quarvel
