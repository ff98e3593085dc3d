// Arbitrary bytes as a preset file and as document text. Beyond not crashing: a loaded document is
// normalised (every canonical setting is found, and further passes change nothing while its
// numbers fit a read), the file and memory paths agree, and a saved document loads as its own
// normalised text. Where the C library is glibc, the number conversion must agree with its
// printf and strtod.
#include "settings/NumberText.h"
#include "settings/ParameterDocument.h"
#include "settings/ParameterTable.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

using namespace quarvel;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

std::string scratchPath()
{
    static const std::string path = "/tmp/quarvel-fuzz-" + std::to_string(getpid()) + ".qvp";
    return path;
}

// A stored double reads back as itself only if its text fits the 63 characters that a read
// converts and is a number: beyond 1e54, and for "inf" and "nan", the next read differs.
bool doublesReadBack(ParameterDocument& document)
{
    char value[kValueLengthLimit + 1];
    for (const SettingInfo& setting : kSettings) {
        if (setting.type != SettingType::Double)
            continue;
        document.getString(setting.name, value, kValueLengthLimit, nullptr);
        if (std::strlen(value) > size_t(kNumberTextSize - 1) || std::strchr(value, 'n'))
            return false;
    }
    return true;
}

// A normalised text is a fixed point from the second pass on. (The first pass may still differ:
// reading an identity entry with its empty default appends it to the source copy, and a value
// without its ";" runs on into that.)
void checkNormalised(ParameterDocument& document)
{
    for (size_t i = 0; i < kCanonicalSettingCount; ++i)
        check(document.getString(kSettings[i].name, nullptr, 0, nullptr) == 1);
    document.normalize();
    const std::string twice = document.text();
    const bool stable = doublesReadBack(document);
    document.normalize();
    check(!stable || twice == document.text());
    check(document.length() == int(std::strlen(document.text())) && document.length() < document.capacity());
}

#if defined(__GLIBC__)
// strtod also reads hexadecimal, "inf" and "nan", which stored settings never use.
bool decimalOnly(const char* text)
{
    const char* p = text + std::strspn(text, " \t\n\v\f\r+-");
    return std::strpbrk(p, "xXiInN") == nullptr;
}

void compareWithCLibrary(const char* text)
{
    if (decimalOnly(text)) {
        const double ours = parseDouble(text);
        const double theirs = std::strtod(text, nullptr);
        check(std::memcmp(&ours, &theirs, sizeof ours) == 0);
        char printed[400];
        std::snprintf(printed, sizeof printed, "%.8f", ours);
        check(formatDouble(ours, kStoredDecimals) == printed || ours != ours);
    }
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);

    ParameterDocument fromMemory;
    fromMemory.loadFromMemory(bytes, size);

    // The same bytes through a real file give the same document.
    if (std::FILE* file = std::fopen(scratchPath().c_str(), "wb")) {
        std::fwrite(bytes, 1, size, file);
        std::fclose(file);
        ParameterDocument fromFile;
        check(fromFile.load(scratchPath().c_str()) == 1);
        check(std::strcmp(fromFile.text(), fromMemory.text()) == 0);
    }
    checkNormalised(fromMemory);

    // The bytes as text in a document: every read and write on it stays inside its block, and a
    // save and load keeps the first value of each setting.
    const std::string text(bytes, size);
    ParameterDocument document;
    document.setText(text.c_str());
    char value[kValueLengthLimit + 1];
    for (const SettingInfo& setting : kSettings)
        document.getString(setting.name, value, kValueLengthLimit, "0");
    document.setString("Gamma", text.c_str());
    if (document.save(scratchPath().c_str()) == 1) {
        // CR LF on disk and back is the identity on any text without NUL bytes.
        ParameterDocument expected;
        expected.setText(document.text());
        expected.normalize();
        ParameterDocument reloaded;
        check(reloaded.load(scratchPath().c_str()) == 1);
        check(std::strcmp(reloaded.text(), expected.text()) == 0);
    }

#if defined(__GLIBC__)
    const std::string prefix = text.substr(0, std::min<size_t>(size, 80));
    compareWithCLibrary(prefix.c_str());
#endif
    return 0;
}
