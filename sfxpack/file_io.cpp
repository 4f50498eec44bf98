#include "sfxpack/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <system_error>

#include "sfxpack/file_guard.h"

namespace sfx {

std::string PathText(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

FILE* OpenFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
  // The narrow C runtime calls read names in the ANSI code page; the wide
  // ones take any name.
  std::wstring wideMode(mode, mode + strlen(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return fopen(path.c_str(), mode);
#endif
}

bool SeekFile(FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool ReadFileAt(FILE* file, uint64_t offset, void* buffer, size_t count) {
  return SeekFile(file, offset) && fread(buffer, 1, count, file) == count;
}

FILE* OpenSizedFile(const fs::path& path, uint64_t most, uint64_t* size, std::string* error) {
  std::error_code code;
  *size = fs::file_size(path, code);
  if (code) {
    *error = "cannot read " + PathText(path) + ": " + code.message();
    return nullptr;
  }
  if (*size > most) {
    *error = PathText(path) + " is " + std::to_string(*size) + " bytes, more than the " +
             std::to_string(most) + " allowed";
    return nullptr;
  }
  FILE* file = OpenFile(path, "rb");
  if (!file) *error = "cannot open " + PathText(path) + ": " + strerror(errno);
  return file;
}

bool ReadWholeFile(const fs::path& path, uint64_t most, std::string* out, std::string* error) {
  uint64_t size = 0;
  FileOwner file(OpenSizedFile(path, most, &size, error));
  if (!file.get()) return false;
  out->assign(static_cast<size_t>(size), '\0');
  if (size && fread(&(*out)[0], 1, out->size(), file.get()) != out->size()) {
    *error = "cannot read " + PathText(path) + ": it changed or could not be read whole";
    return false;
  }
  return true;
}

OutputFile::OutputFile(fs::path target) : target_(std::move(target)) {}

OutputFile::~OutputFile() {
  if (file_) fclose(file_);
  if (!temporary_.empty() && !committed_) {
    std::error_code ignored;
    fs::remove(temporary_, ignored);
    UnguardTemporary(temporary_);
  }
}

bool OutputFile::Fail(const char* what) {
  if (error_.empty())
    error_ = std::string("cannot ") + what + " " + PathText(temporary_) + ": " + strerror(errno);
  return false;
}

namespace {

// A name part that no other run picks: the system's random source, mixed
// with the clock and a count in case that source repeats itself.
std::string UniqueTag() {
  static std::atomic<uint32_t> count{0};
  std::random_device device;
  uint64_t mixed = (uint64_t(device()) << 32) ^ device();
  mixed ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15u;
  mixed ^= uint64_t(++count) << 48;
  static const char digits[] = "0123456789abcdef";
  std::string tag;
  for (int i = 0; i < 12; ++i, mixed >>= 4) tag += digits[mixed & 15];
  return tag;
}

}  // namespace

bool OutputFile::Open(std::string* error) {
  // A taken name is tried again with another; anything else is an error.
  for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
    temporary_ = target_;
    temporary_ += "." + UniqueTag() + ".sfxpack-tmp";
    // Guarded before it exists: an interruption between creation and the
    // guard would leave it behind.
    GuardTemporary(temporary_);
    file_ = CreateExclusive(temporary_);
    if (!file_) UnguardTemporary(temporary_);
    if (!file_ && errno != EEXIST) break;
  }
  if (!file_) {
    Fail("create");
    temporary_.clear();
    *error = error_;
    return false;
  }
  // Large writes pass the stdio buffer; small header writes gather in it.
  setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  return true;
}

bool OutputFile::Write(const void* bytes, size_t count) {
  if (!file_ || !error_.empty()) return false;
  if (count && fwrite(bytes, 1, count, file_) != count) return Fail("write");
  position_ += count;
  if (position_ > end_) end_ = position_;
  return true;
}

bool OutputFile::MoveTo(uint64_t offset) {
  if (!file_ || !error_.empty()) return false;
  if (!SeekFile(file_, offset)) return Fail("seek in");
  position_ = offset;
  return true;
}

bool OutputFile::Patch(uint64_t at, const std::string& bytes) {
  if (!file_ || !error_.empty()) return false;
  const uint64_t back = position_;
  if (!SeekFile(file_, at)) return Fail("seek in");
  if (fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) return Fail("write");
  if (at + bytes.size() > end_) end_ = at + bytes.size();
  if (!SeekFile(file_, back)) return Fail("seek in");
  return true;
}

bool OutputFile::ReadAt(uint64_t offset, void* buffer, size_t count) {
  if (!file_ || !error_.empty()) return false;
  if (offset > end_ || count > end_ - offset) return false;
  // The seek between writing and reading flushes what stdio holds.
  if (!ReadFileAt(file_, offset, buffer, count)) return Fail("read back");
  if (!SeekFile(file_, position_)) return Fail("seek in");
  return true;
}

bool OutputFile::ReadBack(const std::function<void(const uint8_t*, size_t)>& sink) {
  if (!file_ || !error_.empty()) return false;
  if (!SeekFile(file_, 0)) return Fail("seek in");
  std::string piece(1 << 20, '\0');
  for (uint64_t done = 0; done < position_;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), position_ - done));
    if (fread(&piece[0], 1, want, file_) != want) return Fail("read back");
    sink(reinterpret_cast<const uint8_t*>(piece.data()), want);
    done += want;
  }
  if (!SeekFile(file_, position_)) return Fail("seek in");
  return true;
}

bool OutputFile::Close() {
  if (!file_) return error_.empty();
  const bool flushed = fflush(file_) == 0;
  const bool closed = fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) return Fail("write");
  if (!error_.empty()) return false;
  // Bytes past the position were written for an entry that was then stored
  // in less room.
  if (end_ > position_) {
    std::error_code code;
    fs::resize_file(temporary_, position_, code);
    if (code) {
      error_ = "cannot cut " + PathText(temporary_) + ": " + code.message();
      return false;
    }
  }
  return true;
}

bool OutputFile::Commit() {
  if (file_ && !Close()) return false;
  if (!error_.empty()) return false;
  KeepPermissions(temporary_, target_);
  std::error_code code;
  fs::rename(temporary_, target_, code);
  if (code) {
    error_ = "cannot rename " + PathText(temporary_) + " to " + PathText(target_) + ": " + code.message();
    return false;
  }
  committed_ = true;
  UnguardTemporary(temporary_);
  return true;
}

}  // namespace sfx
