// Line ends between document text and preset file bytes.
#include "settings/TextFormat.h"

#include <cstring>

namespace quarvel {

size_t FileTextDecoder::feed(const char* bytes, size_t size, char* out)
{
    size_t count = 0;
    for (size_t i = 0; i < size && !ended_; ++i) {
        const char c = bytes[i];
        if (heldReturn_) {
            heldReturn_ = false;
            if (c == '\n') {
                out[count++] = '\n';
                continue;
            }
            out[count++] = '\r';
        }
        if (c == '\0')
            ended_ = true;
        else if (c == '\r')
            heldReturn_ = true;
        else
            out[count++] = c;
    }
    return count;
}

size_t FileTextDecoder::finish(char* out)
{
    if (!heldReturn_)
        return 0;
    heldReturn_ = false;
    out[0] = '\r';
    return 1;
}

std::string decodeFileText(const char* bytes, size_t size)
{
    std::string text(size + 1, '\0');
    FileTextDecoder decoder;
    size_t count = bytes ? decoder.feed(bytes, size, &text[0]) : 0;
    count += decoder.finish(&text[count]);
    text.resize(count);
    return text;
}

std::string encodeFileText(const char* text)
{
    std::string bytes;
    if (!text)
        return bytes;
    bytes.reserve(std::strlen(text) + 64);
    for (const char* p = text; *p; ++p) {
        if (*p == '\n')
            bytes.push_back('\r');
        bytes.push_back(*p);
    }
    return bytes;
}

} // namespace quarvel
