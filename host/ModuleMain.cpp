// The module's load-time entry: it only records the instance handle, which resources and the
// module's own file name are found through.
#include "platform/Platform.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        quarvel::platform::setModuleInstance(instance);
    return TRUE;
}
