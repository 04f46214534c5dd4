#pragma once
// The app's private documents directory and whole-file reads and writes.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// $XDG_DATA_HOME/OstraRadio, else ~/.local/share/OstraRadio; created on demand.
// setDocumentsDirectoryOverride points it elsewhere (tests use a temporary folder).
std::filesystem::path documentsDirectory();
void setDocumentsDirectoryOverride(std::optional<std::filesystem::path> path);

// Writes the whole file through a temporary file in the same folder and a rename, so a reader
// sees either the old contents or the new ones, never part of a file. Returns success.
bool writeFileAtomically(const std::filesystem::path& path, const std::string& bytes);

// Removes the temporary files writeFileAtomically left beside `path` in processes that no
// longer run (killed mid-write); those of running processes stay. Returns how many went.
std::size_t removeAbandonedTemporaries(const std::filesystem::path& path);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace platform
