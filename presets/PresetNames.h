// What the preset folder is made of, apart from any window or file: where the folder and a
// preset's file are, how a file's entry in the preset list is labelled, the texts of the preset
// questions and messages, and which names a preset file can be given. Every result is a whole
// string, however long the name: nothing is cut to a buffer.
#pragma once

#include <cstddef>
#include <string>

namespace quarvel {

inline constexpr char kPresetFolderName[] = "Presets\\";
inline constexpr char kPresetExtension[] = ".qvp";

// Longest name the Add New Preset dialog takes.
constexpr size_t kPresetNameLimit = 259;

// The label prefix of a file that this version did not write, before the version it names.
inline constexpr char kForeignPresetMark = '\xFE';

// `moduleDirectory` ends in its separator; so does the result.
std::string presetFolderPath(const std::string& moduleDirectory);
std::string presetFilePath(const std::string& folderPath, const std::string& name);
std::string presetSearchPattern(const std::string& folderPath);

// The list label of a found file: its name without the last four characters (the extension),
// bare when the file names this product and version 2.0, otherwise after the mark and "<v%s> "
// with the version it names, or "<v1.2> " when it names no version or another product.
// `plugInName` and `version` are the file's entries, null where it has none.
std::string presetLabel(const std::string& fileName, const char* plugInName, const char* version);

std::string presetExistsQuestion(const std::string& name);
std::string cannotSavePresetMessage(const std::string& name);
std::string deletePresetQuestion(const std::string& label);

// Whether `name`, with the extension after it, names a file directly in the preset folder. Not
// so: an empty name, a separator or drive colon (the file would land elsewhere, or in a stream of
// another file), a wildcard or other character that Windows file names cannot hold, and the
// reserved device names (CON.qvp is the console, NUL.qvp swallows what is written).
bool isPresetFileName(const std::string& name);

} // namespace quarvel
