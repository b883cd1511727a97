#include "file_io.h"

#include <cerrno>

namespace vrt::editor {

ReadStatus ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return ReadStatus::kCannotOpen;
  ReadStatus status = ReadStatus::kOk;
  // The size, when the file can tell it, saves growing the buffer.
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0 && static_cast<unsigned long>(size) <= limit) bytes.reserve(static_cast<std::size_t>(size));
    std::rewind(file);
  }
  std::uint8_t chunk[65536];
  while (true) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    if (got > 0) {
      if (bytes.size() + got > limit) {
        status = ReadStatus::kTooLarge;
        break;
      }
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (got < sizeof chunk) {
      if (std::ferror(file)) status = ReadStatus::kReadError;
      break;
    }
  }
  std::fclose(file);
  if (status != ReadStatus::kOk) bytes.clear();
  return status;
}

WriteStatus WriteToStream(std::FILE* stream, std::span<const std::uint8_t> bytes) {
  errno = 0;
  const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), stream);
  if (written != bytes.size() || std::fflush(stream) != 0) {
    return errno == ENOSPC ? WriteStatus::kDiskFull : WriteStatus::kWriteFailed;
  }
  return WriteStatus::kOk;
}

WriteStatus WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes, FileMode mode) {
  // The target must be writable now (a read-only file or a missing folder is
  // refused before anything is written); opening it to append changes
  // nothing in it.
  std::FILE* existing = std::fopen(path.c_str(), "rb");
  const bool existed = existing != nullptr;
  if (existing != nullptr) std::fclose(existing);
  errno = 0;
  std::FILE* probe = std::fopen(path.c_str(), "ab");
  if (probe == nullptr) return errno == EACCES ? WriteStatus::kAccessDenied : WriteStatus::kCannotCreate;
  std::fclose(probe);

  const std::string temporary = path + ".~new";
  errno = 0;
  std::FILE* file = std::fopen(temporary.c_str(), mode == FileMode::kText ? "w" : "wb");
  if (file == nullptr) {
    const WriteStatus failure = errno == EACCES ? WriteStatus::kAccessDenied : WriteStatus::kCannotCreate;
    if (!existed) std::remove(path.c_str());
    return failure;
  }
  WriteStatus status = WriteToStream(file, bytes);
  if (std::fclose(file) != 0 && status == WriteStatus::kOk) {
    status = errno == ENOSPC ? WriteStatus::kDiskFull : WriteStatus::kWriteFailed;
  }
  if (status == WriteStatus::kOk && !MoveFileOver(temporary, path)) status = WriteStatus::kWriteFailed;
  if (status != WriteStatus::kOk) {
    std::remove(temporary.c_str());
    if (!existed) std::remove(path.c_str());
  }
  return status;
}

}  // namespace vrt::editor
