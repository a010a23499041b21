// The temporary files WriteFile is writing, so that an interrupted program
// can remove them. Every platform's WriteFile keeps them here.
#pragma once

#include <filesystem>
#include <mutex>

namespace files::unfinished {

// Held while a temporary file is made, put in place or removed, so that
// RemoveAll never sees one half made or half placed.
std::unique_lock<std::mutex> Lock();

// Whether RemoveAll has run: no new temporary file may be made.
bool Stopping(const std::unique_lock<std::mutex>& lock);
void Add(const std::unique_lock<std::mutex>& lock, const std::filesystem::path& temp);
void Drop(const std::unique_lock<std::mutex>& lock, const std::filesystem::path& temp);

// Removes every temporary file and keeps the lock, so nothing new starts.
void RemoveAllAndStop();

}  // namespace files::unfinished
