// The interface through which every component reads and writes the settings. Values are text, so
// any entry can be read as an integer or as a floating-point number; the typed operations are
// built once, here, on the string operations.
#pragma once

#include <cstdint>

namespace quarvel {

class ParameterStore {
public:
    virtual ~ParameterStore() = default;

    // Characters in the text.
    virtual int length() const = 0;
    // Replaces the whole text (null: empty).
    virtual void setText(const char* source) = 0;
    // Copies at most size - 1 characters of the text into `out`, zero-terminated.
    virtual void getText(char* out, int size) const = 0;
    // 1 if an existing entry was replaced, 0 if one was appended or nothing was done.
    virtual int setString(const char* name, const char* value) = 0;
    // 1 if the entry exists; its value, at most maxLength characters, goes to `out`, which holds
    // maxLength + 1. A missing entry with a non-null default is first appended with that value.
    virtual int getString(const char* name, char* out, int maxLength, const char* defaultValue) = 0;

    // "%ld"; the result is that of setString.
    virtual int setInt(const char* name, int32_t value);
    // 1 if found. A missing entry gives, and is stored with, the default.
    virtual int getInt(const char* name, int32_t* out, int32_t defaultValue);
    // "%0.8lf"; the result is that of setString.
    virtual int setDouble(const char* name, double value);
    // 1 if found. A missing entry gives the default and is stored with it as "%lf".
    virtual int getDouble(const char* name, double* out, double defaultValue);

    // 1 if the file was read (and the text normalised); 0 leaves the store unchanged.
    virtual int load(const char* path) = 0;
    // Stamps the identity entries and writes the text; 1 if the file was written completely.
    virtual int save(const char* path) = 0;

protected:
    ParameterStore() = default;
    ParameterStore(const ParameterStore&) = default;
    ParameterStore& operator=(const ParameterStore&) = default;
};

// Size of the buffer a number is read into: 63 characters and the terminator.
constexpr int kNumberTextSize = 64;

} // namespace quarvel
