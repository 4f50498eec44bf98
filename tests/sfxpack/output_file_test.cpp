// The output file: each run writes under a name of its own beside the
// target, and the target only ever holds one run's whole bytes. The real
// program's road (signals, two processes, modes) is output_road_test.sh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sfxpack/file_io.h"
#include "tests/sfxpack/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

std::vector<fs::path> Temporaries(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().string().find(".sfxpack-tmp") != std::string::npos) found.push_back(entry.path());
  return found;
}

// Outputs open at once on one target write to files of their own; the last
// to commit wins whole, one never committed leaves nothing, and the target
// is untouched until a commit.
TEST(OutputFile, RunsAtOnceEachWriteTheirOwnFile) {
  ScratchFolder scratch;
  const fs::path target = scratch / "launcher.exe";
  WriteFile(target, "the previous launcher");
  std::string error;
  sfx::OutputFile first(target), second(target), third(target);
  ASSERT_TRUE(first.Open(&error)) << error;
  ASSERT_TRUE(second.Open(&error)) << error;
  ASSERT_TRUE(third.Open(&error)) << error;
  EXPECT_NE(first.TemporaryPath(), second.TemporaryPath());
  EXPECT_NE(second.TemporaryPath(), third.TemporaryPath());
  EXPECT_EQ(first.TemporaryPath().parent_path(), target.parent_path()) << "beside the target, on its file system";
  const std::string one(300000, '1'), two(200000, '2'), three(100000, '3');
  ASSERT_TRUE(first.Write(one));
  ASSERT_TRUE(second.Write(two));
  ASSERT_TRUE(third.Write(three));
  ASSERT_TRUE(second.Patch(0, "22"));
  EXPECT_EQ(ReadFile(target), "the previous launcher");
  ASSERT_TRUE(second.Commit()) << second.Error();
  EXPECT_EQ(ReadFile(target), two);
  ASSERT_TRUE(first.Commit()) << first.Error();
  EXPECT_EQ(ReadFile(target), one);
  // Only the third, never committed, still has a file; it goes with it.
  EXPECT_EQ(Temporaries(scratch.path()).size(), 1u);
}

TEST(OutputFile, NothingIsLeftWhenNotCommitted) {
  ScratchFolder scratch;
  {
    sfx::OutputFile out(scratch / "launcher.exe");
    std::string error;
    ASSERT_TRUE(out.Open(&error)) << error;
    ASSERT_TRUE(out.Write(std::string(5000, 'x')));
    std::string back(10, '\0');
    ASSERT_TRUE(out.ReadAt(4990, &back[0], 10));
    EXPECT_EQ(back, std::string(10, 'x'));
    EXPECT_FALSE(out.ReadAt(4995, &back[0], 10)) << "past the written bytes";
  }
  EXPECT_TRUE(fs::is_empty(scratch.path()));
}

// A folder that does not exist: one line naming the file, nothing made.
TEST(OutputFile, FailsInAMissingFolder) {
  ScratchFolder scratch;
  sfx::OutputFile out(scratch / "missing/launcher.exe");
  std::string error;
  EXPECT_FALSE(out.Open(&error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(scratch.path()));
}

}  // namespace
