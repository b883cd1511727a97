// Whole-file reads and writes for the configuration, the CSV text and their
// failures as status codes. A write goes to a file beside the target first
// and replaces the target only when every byte is on disk, so that a full
// disk never leaves a half-written configuration where the old one was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace vrt::editor {

enum class ReadStatus { kOk, kCannotOpen, kTooLarge, kReadError };

// Reads the file in binary, refusing files above `limit` bytes.
ReadStatus ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes);

enum class WriteStatus { kOk, kCannotCreate, kAccessDenied, kDiskFull, kWriteFailed };

enum class FileMode { kBinary, kText };

// Writes `bytes` to `path` (text mode turns line feeds into the platform's
// line ends).
WriteStatus WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes, FileMode mode);

// Writes and flushes to an open stream; a full disk is told apart from
// other failures.
WriteStatus WriteToStream(std::FILE* stream, std::span<const std::uint8_t> bytes);

// Moves `from` over `to`, replacing it (the platform's rename that
// overwrites).
bool MoveFileOver(const std::string& from, const std::string& to);

}  // namespace vrt::editor
