// Shared helpers of the packer's tests: scratch folders, files written in
// one call, the build's fixture files (named by environment variables that
// the test registration sets) and a run of the command as a user runs it.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "sfxpack/file_io.h"
#include "sfxpack/folder_scan.h"
#include "sfxpack/sfxpack.h"
#include "sfxpack/zip_stream_writer.h"

namespace pack_fixtures {

namespace fs = std::filesystem;

inline int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return getpid();
#endif
}

// A fresh folder under the system's temporary folder, removed with
// everything in it when the test ends. The process id in its name keeps
// runs from other build trees on the same machine out of it.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int serial = 0;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() / ("sfxpack-" + std::string(test ? test->name() : "test") + "-" +
                                         std::to_string(ProcessId()) + "-" + std::to_string(++serial));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    // Read-only files and folders must become writable to go.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& utf8) const { return path_ / fs::u8path(utf8); }

 private:
  fs::path path_;
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Bytes that deflate cannot shrink.
inline std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// Text that deflates well.
inline std::string TextBytes(size_t count) {
  std::string text;
  for (int line = 0; text.size() < count; ++line) text += "line " + std::to_string(line) + " of the sample text\n";
  text.resize(count);
  return text;
}

// Sets (or with null, removes) an environment variable of this process.
inline void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

// A fixture file of the build, from the environment.
inline fs::path Fixture(const char* variable) {
  const char* value = getenv(variable);
  if (!value || !*value) {
    ADD_FAILURE() << variable << " is not set";
    return fs::path();
  }
  return fs::u8path(value);
}

inline std::string Utf8(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

struct PackRun {
  int code = -1;
  std::string out;
  std::string err;
};

inline PackRun RunPacker(const std::vector<std::string>& args, uint64_t payloadLimit = sfx::kMaxPayloadBytes) {
  std::ostringstream out, err;
  PackRun run;
  run.code = sfx::RunSfxpack(args, out, err, payloadLimit);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// The arguments that pack payload (a folder or an archive) onto the
// build's stub into out.
inline std::vector<std::string> PackArgs(const fs::path& payload, const fs::path& out) {
  return {"--payload", Utf8(payload), "--stub", Utf8(Fixture("SFXPACK_STUB")), "-o", Utf8(out)};
}

// Sets the value of an option in the arguments, adding it when missing.
inline void SetArgument(std::vector<std::string>* args, const std::string& name, const std::string& value) {
  for (size_t i = 0; i + 1 < args->size(); ++i)
    if ((*args)[i] == name) {
      (*args)[i + 1] = value;
      return;
    }
  args->push_back(name);
  args->push_back(value);
}

// A folder with a signed installer at its top, ready to pack.
inline void MakeInstallerFolder(const fs::path& folder) {
  fs::create_directories(folder);
  fs::copy_file(Fixture("SFXPACK_SIGNED"), folder / "Setup.exe", fs::copy_options::overwrite_existing);
}

// The entries of a folder, as the packer scans it.
inline std::vector<sfx::SourceEntry> ScanEntries(const fs::path& folder) {
  std::vector<sfx::SourceEntry> entries;
  std::string error;
  EXPECT_TRUE(sfx::ScanFolder(folder, &entries, &error)) << error;
  return entries;
}

// Writes the entries (names as they are, however hostile) as an archive
// file with the packer's own writer; its bytes, or "" on failure.
inline std::string WriteZipFile(const std::vector<sfx::SourceEntry>& entries, const fs::path& file,
                                const sfx::ZipWriteOptions& options = sfx::ZipWriteOptions()) {
  if (fs::exists(file)) fs::remove(file);
  sfx::OutputFile out(file);
  std::string error;
  uint64_t size = 0;
  bool tooLarge = false;
  EXPECT_TRUE(out.Open(&error)) << error;
  EXPECT_TRUE(sfx::WriteZipArchive(entries, options, &out, &size, &tooLarge, &error)) << error;
  EXPECT_TRUE(out.Commit()) << out.Error();
  const std::string bytes = ReadFile(file);
  EXPECT_EQ(bytes.size(), size);
  return bytes;
}

}  // namespace pack_fixtures
