// The bytes of the module's PIPL and AETE resources. The build writes them to files that
// quarvel.rc takes in (WriteResources.cpp), so the terminology comes from the settings table;
// tests read them back the way hosts do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::resources {

// Little-endian, byte-packed output, as both resources are laid out.
class ByteWriter {
public:
    void put8(uint8_t value);
    void put16(uint16_t value);
    void put32(uint32_t value);
    // A four-character code: the 32-bit number, so 'kind' comes out as the bytes "dnik".
    void putCode(uint32_t code) { put32(code); }
    void putPascal(const std::string& text); // length byte, then the characters; at most 255
    void putCString(const std::string& text); // the characters, then a NUL
    void putBytes(const std::vector<uint8_t>& bytes);
    void zeros(size_t count);
    void pad4(); // zeros up to a multiple of 4 bytes from the start of this writer

    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// `module64`: the x86_64 module, which names its entry point under '8664' as well as 'wx86'.
std::vector<uint8_t> pipl(bool module64);
std::vector<uint8_t> aete();

} // namespace quarvel::resources
