#include "tools/host/HostMain.h"

int main(int argc, char** argv) { return quarvel::host::hostMain(argc, argv); }
