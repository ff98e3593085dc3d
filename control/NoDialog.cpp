// Builds without a user interface have no dialog to offer; the start call tells the user so.
#include "control/ProcessingController.h"

namespace quarvel {

DialogView* createMainDialog() { return nullptr; }

} // namespace quarvel
