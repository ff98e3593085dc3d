// The parameter document as a file: the identity entries that a saved document carries, and the
// translation between the document's text (lines end in LF) and the bytes on disk (lines end in
// CR LF). The translation is done here rather than by the C library's text mode so that every
// build writes byte-identical preset files and reads the same text back from any file.
#pragma once

#include <cstddef>
#include <string>

namespace quarvel {

// Identity entries, stamped by every save. Files of older versions have none.
inline constexpr char kPlugInNameEntry[] = "PlugInName";
inline constexpr char kPlugInNameValue[] = "Quarvel";
inline constexpr char kVersionEntry[] = "Version";
inline constexpr char kVersionValue[] = "2.0";

// Characters of an identity value that normalisation keeps.
constexpr int kIdentityValueLength = 127;

// Turns a file's bytes, fed in pieces of any size, into document text. CR LF becomes LF (also
// across the boundary of two pieces); a CR that no LF follows stays. A NUL byte ends the text,
// since the document is a zero-terminated string: it and everything after it are ignored.
class FileTextDecoder {
public:
    // Writes the text that `size` more bytes stand for to `out`, which has room for size + 1
    // characters (a CR held back from the previous piece may come out now). Returns the count.
    size_t feed(const char* bytes, size_t size, char* out);
    // Writes a CR held back at the end of the last piece (room for 1); returns the count.
    size_t finish(char* out);
    bool ended() const { return ended_; }

private:
    bool heldReturn_ = false;
    bool ended_ = false;
};

// The whole of a file's bytes as document text.
std::string decodeFileText(const char* bytes, size_t size);

// The bytes a save writes for a document text: every LF becomes CR LF, nothing else changes.
std::string encodeFileText(const char* text);

} // namespace quarvel
