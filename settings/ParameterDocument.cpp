// Entries are located by a plain search of the text on every access; nothing is cached, so the
// text stays the single truth and may be replaced wholesale at any time.
#include "settings/ParameterDocument.h"

#include "settings/ParameterTable.h"
#include "settings/TextFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>

namespace quarvel {
namespace {

bool isEntrySeparator(char c) { return c == ';' || c == '\t' || c == '\n' || c == '\r'; }

// A file read stops growing the text where the block size would leave the 32-bit range.
constexpr size_t kMaxTextLength = size_t(kMaxCapacity) - size_t(kBlockGrowth);

void copyValue(const char* value, size_t size, char* out, int maxLength)
{
    if (!out || maxLength < 0)
        return;
    if (size > size_t(kValueLengthLimit))
        size = size_t(kValueLengthLimit);
    if (size > size_t(maxLength))
        size = size_t(maxLength);
    std::memmove(out, value, size);
    out[size] = '\0';
}

} // namespace

ParameterDocument::ParameterDocument()
{
    text_.reset(new (std::nothrow) char[kInitialCapacity]());
    capacity_ = text_ ? kInitialCapacity : 0;
}

ParameterDocument::~ParameterDocument() = default;

size_t ParameterDocument::textLength() const { return text_ ? std::strlen(text_.get()) : 0; }

int ParameterDocument::length() const { return int(textLength()); }

bool ParameterDocument::ownsPointer(const char* p) const
{
    const std::less<const char*> before;
    const char* begin = text_.get();
    return begin && !before(p, begin) && before(p, begin + capacity_);
}

bool ParameterDocument::growBlock(uint64_t newCapacity)
{
    if (newCapacity > uint64_t(kMaxCapacity))
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size_t(newCapacity)]());
    if (!block)
        return false;
    if (text_)
        std::memcpy(block.get(), text_.get(), textLength());
    text_ = std::move(block);
    capacity_ = int32_t(newCapacity);
    return true;
}

void ParameterDocument::clearText()
{
    if (text_)
        std::memset(text_.get(), 0, textLength());
}

void ParameterDocument::assignText(const char* source, size_t size, uint64_t wantedCapacity)
{
    if (wantedCapacity > uint64_t(capacity_)) {
        std::unique_ptr<char[]> block;
        if (wantedCapacity <= uint64_t(kMaxCapacity))
            block.reset(new (std::nothrow) char[size_t(wantedCapacity)]());
        if (block) {
            // The source may live in the old block, which is still alive here.
            std::memcpy(block.get(), source, size);
            text_ = std::move(block);
            capacity_ = int32_t(wantedCapacity);
            return;
        }
    }
    if (!text_)
        return;
    // Without a larger block the text keeps what fits the current one.
    if (size >= size_t(capacity_))
        size = size_t(capacity_) - 1;
    const size_t oldLength = textLength();
    std::memmove(text_.get(), source, size);
    if (oldLength > size)
        std::memset(text_.get() + size, 0, oldLength - size);
    text_[size] = '\0';
}

bool ParameterDocument::findValue(const char* name, size_t& valueStart, size_t& valueEnd) const
{
    const char* text = text_ ? text_.get() : "";
    const size_t nameLength = std::strlen(name);
    for (const char* p = text; (p = std::strstr(p, name)) != nullptr; ++p) {
        if (p[nameLength] == '=' && (p == text || isEntrySeparator(p[-1]))) {
            valueStart = size_t(p - text) + nameLength + 1;
            const char* end = std::strchr(text + valueStart, ';');
            valueEnd = end ? size_t(end - text) : textLength();
            return true;
        }
        if (*p == '\0')
            break; // an empty name matches at the terminator
    }
    return false;
}

void ParameterDocument::setText(const char* source)
{
    if (!source)
        source = "";
    size_t size = std::strlen(source);
    if (size > kMaxTextLength)
        size = kMaxTextLength;
    const uint64_t wanted = size >= size_t(capacity_) ? uint64_t(size) + kBlockGrowth : 0;
    assignText(source, size, wanted);
}

void ParameterDocument::getText(char* out, int size) const
{
    if (!out || size <= 0)
        return;
    size_t count = textLength();
    if (count > size_t(size) - 1)
        count = size_t(size) - 1;
    if (count > 0)
        std::memmove(out, text_.get(), count);
    out[count] = '\0';
}

int ParameterDocument::setString(const char* name, const char* value)
{
    if (!name || !value)
        return 0;
    // Either could point into the block that is about to move or shift.
    std::string nameCopy;
    std::string valueCopy;
    if (ownsPointer(name))
        name = (nameCopy = name).c_str();
    if (ownsPointer(value))
        value = (valueCopy = value).c_str();

    const size_t length = textLength();
    const size_t nameLength = std::strlen(name);
    const size_t valueLength = std::strlen(value);
    // Room for a whole new entry is made even when the entry exists; the growth rule is the
    // text's own, and a replacement never needs more.
    const uint64_t needed = uint64_t(length) + nameLength + 1 + valueLength + 2 + 1;
    if (needed > uint64_t(capacity_)
        && !growBlock(uint64_t(capacity_) + nameLength + 1 + valueLength + kBlockGrowth))
        return 0;

    char* text = text_.get();
    size_t valueStart = 0;
    size_t valueEnd = 0;
    if (findValue(name, valueStart, valueEnd)) {
        const size_t oldValueLength = valueEnd - valueStart;
        std::memmove(text + valueStart + valueLength, text + valueEnd, length - valueEnd + 1);
        std::memcpy(text + valueStart, value, valueLength);
        const size_t newLength = length - oldValueLength + valueLength;
        if (newLength < length)
            std::memset(text + newLength, 0, length - newLength);
        return 1;
    }
    char* end = text + length;
    std::memcpy(end, name, nameLength);
    end += nameLength;
    *end++ = '=';
    std::memcpy(end, value, valueLength);
    end += valueLength;
    *end++ = ';';
    *end++ = '\n';
    *end = '\0';
    return 0;
}

int ParameterDocument::getString(const char* name, char* out, int maxLength, const char* defaultValue)
{
    if (!name)
        return 0;
    size_t valueStart = 0;
    size_t valueEnd = 0;
    if (findValue(name, valueStart, valueEnd)) {
        copyValue(text_.get() + valueStart, valueEnd - valueStart, out, maxLength);
        return 1;
    }
    if (!defaultValue)
        return 0;
    const std::string value = defaultValue; // it could point into the block
    setString(name, value.c_str());
    copyValue(value.c_str(), value.size(), out, maxLength);
    return 0;
}

namespace {

// A file's text on its way into the document. It grows by doubling and never throws: when memory
// runs short it stops growing, and the text is cut there.
class StagedText {
public:
    // Room for `more` characters after the current ones.
    bool reserve(size_t more)
    {
        if (more <= capacity_ - size_)
            return true;
        size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
        while (capacity - size_ < more) {
            if (capacity > SIZE_MAX / 2)
                return false;
            capacity *= 2;
        }
        std::unique_ptr<char[]> block(new (std::nothrow) char[capacity]);
        if (!block)
            return false;
        if (size_ > 0)
            std::memcpy(block.get(), data_.get(), size_);
        data_ = std::move(block);
        capacity_ = capacity;
        return true;
    }
    char* end() { return data_.get() + size_; }
    void grow(size_t count) { size_ += count; }
    const char* data() const { return data_ ? data_.get() : ""; }
    size_t size() const { return size_; }

private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Reads pieces from `read` (which fills a buffer and returns the count, 0 at the end) until the
// text ends, grows past what a document can hold, or memory runs short.
template <typename Read> void stageFileText(Read read, StagedText& staged)
{
    constexpr size_t kPiece = 16384;
    char piece[kPiece];
    FileTextDecoder decoder;
    while (!decoder.ended() && staged.size() < kMaxTextLength) {
        const size_t got = read(piece, kPiece);
        if (got == 0)
            break;
        if (!staged.reserve(got + 1))
            return;
        staged.grow(decoder.feed(piece, got, staged.end()));
    }
    if (staged.reserve(1))
        staged.grow(decoder.finish(staged.end()));
}

} // namespace

void ParameterDocument::adoptFileText(const char* source, size_t size)
{
    if (size > kMaxTextLength)
        size = kMaxTextLength;
    // The block grows in whole steps until the text and its terminator fit, as if the file were
    // appended to the cleared text character by character.
    uint64_t wanted = uint64_t(capacity_);
    if (size + 1 > wanted)
        wanted += (size + 1 - wanted + kBlockGrowth - 1) / kBlockGrowth * kBlockGrowth;
    if (wanted > uint64_t(kMaxCapacity))
        wanted = uint64_t(kMaxCapacity);
    clearText();
    assignText(source, size, wanted);
    normalize();
}

void ParameterDocument::loadFromMemory(const char* bytes, size_t size)
{
    StagedText staged;
    size_t offset = 0;
    stageFileText(
        [&](char* piece, size_t pieceSize) {
            const size_t count = bytes ? std::min(pieceSize, size - offset) : 0;
            if (count > 0)
                std::memcpy(piece, bytes + offset, count);
            offset += count;
            return count;
        },
        staged);
    adoptFileText(staged.data(), staged.size());
}

int ParameterDocument::load(const char* path)
{
    if (!path)
        return 0;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return 0;
    StagedText staged;
    stageFileText(
        [file](char* piece, size_t pieceSize) { return std::fread(piece, 1, pieceSize, file); }, staged);
    // A directory opens on some systems but cannot be read; it is no file to load.
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return 0;
    adoptFileText(staged.data(), staged.size());
    return 1;
}

int ParameterDocument::save(const char* path)
{
    setString(kPlugInNameEntry, kPlugInNameValue);
    setString(kVersionEntry, kVersionValue);
    if (!path)
        return 0;
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return 0;
    // Line by line, so that a large text needs no second copy.
    bool written = true;
    const char* p = text();
    while (*p && written) {
        const char* lineEnd = std::strchr(p, '\n');
        const size_t count = lineEnd ? size_t(lineEnd - p) : std::strlen(p);
        written = std::fwrite(p, 1, count, file) == count;
        if (lineEnd && written)
            written = std::fwrite("\r\n", 1, 2, file) == 2;
        p += count + (lineEnd ? 1 : 0);
    }
    const bool closed = std::fclose(file) == 0;
    return written && closed ? 1 : 0;
}

void ParameterDocument::normalize()
{
    ParameterDocument source;
    source.setText(text());
    clearText();

    for (const char* identity : { kPlugInNameEntry, kVersionEntry }) {
        // The identity values are plain words. One that runs on past a line end or tab (its ";"
        // missing) is cut there, so that no setting's name can hide inside it and be found
        // there instead of in its own entry on the next read.
        char value[kIdentityValueLength + 1] = {};
        if (source.getString(identity, value, kIdentityValueLength, nullptr)) {
            value[std::strcspn(value, "\t\n\r")] = 0;
            setString(identity, value);
        }
    }
    for (const SettingInfo& setting : kSettings) {
        if (setting.scope == SettingScope::Extra && !source.getString(setting.name, nullptr, 0, nullptr))
            continue;
        if (setting.type == SettingType::Integer) {
            int32_t value = 0;
            source.getInt(setting.name, &value, setting.defaultInt());
            setInt(setting.name, value);
        } else {
            double value = 0.0;
            source.getDouble(setting.name, &value, setting.defaultValue);
            setDouble(setting.name, value);
        }
    }
}

} // namespace quarvel
