// The one concrete parameter store: all settings as one zero-terminated text of entries
// "name=value;\n" in a heap block that only grows. Lookups are linear; the text holds about forty
// entries and is read a few times per run.
//
// An entry is found by its name and "=" at the start of the text or right after ";", a tab, a
// line feed or a carriage return, so hand-edited files match and a name never matches inside a
// longer one (Amount is not found in ShadowAmount). The first such entry counts. Its value runs to
// the next ";" or to the end of the text.
#pragma once

#include "settings/ParameterStore.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quarvel {

// Block size of a new document and the least step by which it grows.
constexpr int32_t kInitialCapacity = 2048;
constexpr int32_t kBlockGrowth = 2048;
// Characters of a value that a read can deliver, whatever the buffer.
constexpr int kValueLengthLimit = 1023;
// The block size is a 32-bit signed number. A change that would need a larger block is not made;
// a text that large from setText or a file is cut to fit.
constexpr int32_t kMaxCapacity = INT32_MAX;

class ParameterDocument : public ParameterStore {
public:
    ParameterDocument();
    ~ParameterDocument() override;
    ParameterDocument(const ParameterDocument&) = delete;
    ParameterDocument& operator=(const ParameterDocument&) = delete;

    int length() const override;
    void setText(const char* source) override;
    void getText(char* out, int size) const override;
    int setString(const char* name, const char* value) override;
    int getString(const char* name, char* out, int maxLength, const char* defaultValue) override;
    // Reads the file in binary and translates its line ends itself (CR LF becomes LF), so every
    // build reads the same text; a NUL byte ends the text. A file that cannot be opened or read
    // leaves the document unchanged (0). Otherwise the text is normalised (1).
    int load(const char* path) override;
    // Sets "PlugInName" and "Version" (in place, or appended), then writes the text with CR LF
    // line ends on every platform. 0 if the file could not be opened or written completely; the
    // identity entries are stamped either way.
    int save(const char* path) override;

    // Rebuilds the text: the identity entries if present (at most 127 characters each), then the
    // 36 canonical settings in table order, each read with its type and default and written
    // afresh, then each extra setting that the text holds, as its type. Everything else is dropped.
    void normalize();

    // What load does with a file's bytes, without the file.
    void loadFromMemory(const char* bytes, size_t size);

    // The text itself, valid until the next change.
    const char* text() const { return text_ ? text_.get() : ""; }
    int capacity() const { return capacity_; }

private:
    size_t textLength() const;
    bool findValue(const char* name, size_t& valueStart, size_t& valueEnd) const;
    bool ownsPointer(const char* p) const;
    // Moves the text into a zero-filled block of `newCapacity` bytes. False (nothing changed)
    // when the size is out of range or memory is short.
    bool growBlock(uint64_t newCapacity);
    // Replaces the text by `size` characters, in a block of at least `wantedCapacity` bytes.
    void assignText(const char* source, size_t size, uint64_t wantedCapacity);
    void clearText();
    // Takes a file's decoded text as load does: clears, grows in steps, copies, normalises.
    void adoptFileText(const char* source, size_t size);

    std::unique_ptr<char[]> text_;
    int32_t capacity_ = 0;
};

} // namespace quarvel
