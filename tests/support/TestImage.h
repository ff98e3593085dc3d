// A working buffer of random bytes (the fourth byte of each pixel 0) for the filter tests: the
// same seed gives the same picture.
#pragma once

#include "core/ImageBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace quarvel {

struct TestImage {
    TestImage(int32_t rows, int32_t cols, uint32_t seed = 1, int32_t order = kOrderBGR)
        : pixels(size_t(rows) * size_t(cols) * 4)
        , buffer { pixels.data(), rows, cols, kWorkChannels, kWorkBits, order }
    {
        std::mt19937 random(seed);
        for (size_t n = 0; n < pixels.size(); ++n)
            pixels[n] = n % 4 == 3 ? 0 : uint8_t(random());
    }
    std::vector<uint8_t> pixels;
    ImageBuffer buffer;
};

// An environment variable set for the life of the object (the kernels, the grain seed).
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : name_(name)
    {
        set(value);
    }
    ~ScopedVariable() { set(""); }

private:
    void set(const char* value)
    {
#ifdef _WIN32
        _putenv_s(name_, value);
#else
        *value ? setenv(name_, value, 1) : unsetenv(name_);
#endif
    }
    const char* name_;
};

} // namespace quarvel
