#include "control/DialogView.h"

namespace quarvel {

// A dialog without a progress display ignores the reports.
void DialogView::progress(int, int32_t, int32_t) { }

} // namespace quarvel
