// Files by path, with wide names on Windows, and the output file that is
// written under a temporary name and only takes its real name once whole.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace sfx {

namespace fs = std::filesystem;

// The path as UTF-8 text, for messages and archive names.
std::string PathText(const fs::path& path);

// Opens path with a C stdio mode; null on failure. The caller closes it.
FILE* OpenFile(const fs::path& path, const char* mode);
bool SeekFile(FILE* file, uint64_t offset);
// Reads count bytes at offset into buffer; false unless all were read.
bool ReadFileAt(FILE* file, uint64_t offset, void* buffer, size_t count);

// Closes its file when the scope ends.
class FileOwner {
 public:
  explicit FileOwner(FILE* file) : file_(file) {}
  ~FileOwner() {
    if (file_) fclose(file_);
  }
  FileOwner(const FileOwner&) = delete;
  FileOwner& operator=(const FileOwner&) = delete;
  FILE* get() const { return file_; }

 private:
  FILE* file_;
};

// Opens a file of at most `most` bytes for reading and gives its size. Null
// with a one-line *error when it is missing, larger or cannot be opened;
// the caller closes it.
FILE* OpenSizedFile(const fs::path& path, uint64_t most, uint64_t* size, std::string* error);

// Reads the whole of a file of at most `most` bytes into *out. False with a
// one-line *error when it is missing, larger or unreadable.
bool ReadWholeFile(const fs::path& path, uint64_t most, std::string* out, std::string* error);

// The output file. Everything is written to a temporary file beside the
// target, "<target>.<random>.sfxpack-tmp", created exclusively so that no
// two runs ever share one; Commit renames it to the target in one step, and
// a file never committed is removed when the object goes or when the
// program is interrupted (file_guard.h). So a failed run leaves nothing
// behind and never touches an existing target, and the target always holds
// the whole bytes of one run, the last to commit, however many write it at
// once. It gets the existing target's permissions, else 0777 less the
// umask.
class OutputFile {
 public:
  explicit OutputFile(fs::path target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Open(std::string* error);
  // Writes at the current position, which then moves past the bytes.
  bool Write(const void* bytes, size_t count);
  bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
  uint64_t Position() const { return position_; }
  // Moves the current position back, to write over what follows it.
  bool MoveTo(uint64_t offset);
  // Writes bytes at `at` and returns to the current position.
  bool Patch(uint64_t at, const std::string& bytes);
  // Reads count written bytes at offset into buffer; the position stays
  // where it was.
  bool ReadAt(uint64_t offset, void* buffer, size_t count);
  // Reads back [0, Position()) in order, in pieces, into sink; the position
  // stays where it was.
  bool ReadBack(const std::function<void(const uint8_t*, size_t)>& sink);
  // Closes the file, cut to the current position.
  bool Close();
  bool Commit();

  // After Close: the temporary file, for a pass over the written bytes.
  const fs::path& TemporaryPath() const { return temporary_; }
  const fs::path& Target() const { return target_; }
  // The first failure, as one line.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const char* what);

  fs::path target_;
  fs::path temporary_;
  FILE* file_ = nullptr;
  uint64_t position_ = 0;
  uint64_t end_ = 0;  // the furthest byte written
  bool committed_ = false;
  std::string error_;
};

}  // namespace sfx
