// The whole of quarvel-host behind main(): options, image files, the plug-in run, exit codes.
#pragma once

namespace quarvel::host {

int hostMain(int argc, const char* const* argv);

} // namespace quarvel::host
