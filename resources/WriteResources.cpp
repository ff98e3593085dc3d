// Run by the build on the build machine: writes the PIPL and AETE resources of one module as
// files for the resource compiler.
#include "resources/PluginResources.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[2], "32") != 0 && std::strcmp(argv[2], "64") != 0)) {
        std::fprintf(stderr, "usage: write-resources FOLDER 32|64\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool module64 = std::strcmp(argv[2], "64") == 0;
    if (!writeFile(folder + "/pipl.bin", quarvel::resources::pipl(module64))
        || !writeFile(folder + "/aete.bin", quarvel::resources::aete())) {
        std::fprintf(stderr, "write-resources: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
