// Fills any slot of a host's procedure table with a procedure that refuses (paramErr), so that a
// test host spells out only the procedures it means to offer.
#pragma once

#include "pluginapi/PluginApi.h"

namespace quarvel::test {

struct AnyProc {
    template <typename R, typename... A> using Fn = R (*)(A...);
    template <typename R, typename... A> operator Fn<R, A...>() const
    {
        return [](A...) { return R(pluginapi::paramErr); };
    }
};

inline pluginapi::ReadDescriptorProcs refusingReadProcs()
{
    const AnyProc u;
    return { pluginapi::kCurrentReadDescriptorProcsVersion, pluginapi::kCurrentReadDescriptorProcsCount, u, u,
        u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u };
}

inline pluginapi::WriteDescriptorProcs refusingWriteProcs()
{
    const AnyProc u;
    return { pluginapi::kCurrentWriteDescriptorProcsVersion, pluginapi::kCurrentWriteDescriptorProcsCount, u,
        u, u, u, u, u, u, u, u, u, u, u, u, u, u, u };
}

} // namespace quarvel::test
