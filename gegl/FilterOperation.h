// quarvel:filter, the plug-in as a GEGL operation. It runs the plug-in's own entry point on the
// whole image, as the command-line host does, so that its pixels are the host's to the byte:
// 8-bit layers as 8-bit, everything deeper as 16-bit on the host's scale, transparency untouched.
#pragma once

#include <glib-object.h>

namespace quarvel::gegl {

// Registers the operation's type with the module that GEGL loaded.
GType registerFilterOperation(GTypeModule* module);

} // namespace quarvel::gegl
