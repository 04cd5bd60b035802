// The few file operations the tools need beyond the C library's, one
// implementation per platform. Not std::filesystem or iostreams: on Windows
// either brings the C++ library's locale machinery along, which made
// halvorn-inspect.exe four times the size of the plug-in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace halvorn::recording {

bool IsDirectory(const std::string& path);

// Both name one file that exists (through links, or two spellings of a path).
bool SameFile(const std::string& a, const std::string& b);

// Renames `from` over `to`, replacing it; why not, when it fails.
std::optional<std::string> RenameOver(const std::string& from, const std::string& to);

// Cuts the file to `length` bytes; why not, when it fails.
std::optional<std::string> CutFile(const std::string& path, std::uint64_t length);

// Positions beyond 2 GiB, which fseek's long cannot hold on Windows.
bool SeekTo(std::FILE* file, std::uint64_t offset);
std::optional<std::uint64_t> LengthOf(std::FILE* file);

}  // namespace halvorn::recording
