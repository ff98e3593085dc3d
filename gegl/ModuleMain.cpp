// The two functions GEGL looks up in every module of its plug-in folders.
#include "gegl/FilterOperation.h"
#include "gegl/OperationProperties.h"

#include <gegl-plugin.h>
#include <gegl.h>

extern "C" {

G_MODULE_EXPORT const GeglModuleInfo* gegl_module_query(GTypeModule*)
{
    static const GeglModuleInfo info = { GEGL_MODULE_ABI_VERSION };
    return &info;
}

G_MODULE_EXPORT gboolean gegl_module_register(GTypeModule* module)
{
    quarvel::gegl::registerPropertyTypes(module);
    quarvel::gegl::registerFilterOperation(module);
    return TRUE;
}

} // extern "C"
