// The three steps of the installer search, and the pattern resolver behind
// the last two.
#include "launcher/installer_search.h"

#include <gtest/gtest.h>

#include <string>

#include "support/path_utils.h"
#include "tests/launcher/test_tree.h"

using namespace test_tree;

namespace {

struct Search {
  wchar_t scratch[kWidePathCapacity] = {};
  wchar_t installer[kWidePathCapacity] = {};
  bool found = false;
};

Search Locate(const std::wstring& workspace) {
  Search s;
  s.found = LocateInstaller(workspace.c_str(), s.scratch, s.installer);
  return s;
}

bool SameFile(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

TEST(LocateInstaller, EachStepFindsItsInstaller) {
  struct Case {
    const wchar_t* name;
    const wchar_t* folder;  // made first, when given
    const wchar_t* file;    // relative to the workspace
  } cases[] = {
      {L"top", nullptr, L"Setup.exe"},
      {L"suffix", nullptr, L"MySetup.exe"},
      {L"below", L"bin", L"bin\\Setup.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring ws = FreshFolder((std::wstring(L"search_") + c.name).c_str());
    ASSERT_TRUE(WriteBytes(ws + L"\\ReadMe.txt", "r"));
    if (c.folder) {
      ASSERT_TRUE(MakeFolder(ws + L"\\" + c.folder));
    }
    ASSERT_TRUE(WriteBytes(ws + L"\\" + c.file, "MZ"));
    Search s = Locate(ws);
    EXPECT_TRUE(s.found);
    EXPECT_TRUE(SameFile(s.installer, ws + L"\\" + c.file)) << s.installer;
    Wipe(ws);
  }
}

TEST(LocateInstaller, AFolderNamedSetupExePassesTheSearch) {
  std::wstring ws = FreshFolder(L"search_folder");
  ASSERT_TRUE(MakeFolder(ws + L"\\Setup.exe"));
  Search s = Locate(ws);
  EXPECT_TRUE(s.found);
  EXPECT_TRUE(SameFile(s.installer, ws + L"\\Setup.exe")) << s.installer;
  Wipe(ws);
}

TEST(LocateInstaller, AnEmptyWorkspaceFindsNothing) {
  std::wstring ws = FreshFolder(L"search_empty");
  Search s = Locate(ws);
  EXPECT_FALSE(s.found);
  EXPECT_EQ(s.installer[0], 0);
  Wipe(ws);
}

TEST(LocateInstaller, NeverClimbsToTheParentFolder) {
  // Someone dropped a "Setup.exe" beside the workspace in the shared parent.
  std::wstring parent = FreshFolder(L"search_parent");
  std::wstring ws = parent + L"\\ws";
  ASSERT_TRUE(MakeFolder(ws));
  ASSERT_TRUE(MakeFolder(ws + L"\\docs"));
  ASSERT_TRUE(WriteBytes(parent + L"\\Setup.exe", "planted"));
  Search s = Locate(ws);
  EXPECT_FALSE(s.found) << s.installer;
  Wipe(parent);
}

TEST(LocateInstaller, StaysInsideAWorkspaceWhosePathHoldsASemicolon) {
  // A search path is split at ';': "<root>\x;y\ws" would read as the two
  // folders "<root>\x" and "y\ws". Decoys wait in "<root>\x" for each step.
  struct Case {
    const wchar_t* name;
    const wchar_t* file;  // the workspace's own installer, relative to it; null: none
    const wchar_t* decoy;  // relative to "<root>\x"
  } cases[] = {
      {L"top", nullptr, L"Setup.exe"},
      {L"top, own", L"Setup.exe", L"Setup.exe"},
      {L"suffix", L"MySetup.exe", L"MySetup.exe"},
      {L"below", nullptr, L"bin\\Setup.exe"},
      {L"below, own", L"bin\\Setup.exe", L"bin\\Setup.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring root = FreshFolder(L"search_semicolon");
    std::wstring decoys = root + L"\\x";
    std::wstring ws = root + L"\\x;y\\ws";
    ASSERT_TRUE(MakeFolder(decoys));
    ASSERT_TRUE(MakeFolder(decoys + L"\\bin"));
    ASSERT_TRUE(MakeFolder(root + L"\\x;y"));
    ASSERT_TRUE(MakeFolder(ws));
    ASSERT_TRUE(MakeFolder(ws + L"\\bin"));
    ASSERT_TRUE(WriteBytes(decoys + L"\\" + c.decoy, "foreign"));
    if (c.file) {
      ASSERT_TRUE(WriteBytes(ws + L"\\" + c.file, "MZ"));
    }
    Search s = Locate(ws);
    EXPECT_EQ(s.found, c.file != nullptr) << s.installer;
    if (c.file) {
      EXPECT_TRUE(SameFile(s.installer, ws + L"\\" + c.file)) << s.installer;
    }
    Wipe(root);
  }
}

TEST(FindByPattern, ResolvesPatternsToExistingPaths) {
  std::wstring root = FreshFolder(L"pattern");
  ASSERT_TRUE(MakeFolder(root + L"\\one"));
  ASSERT_TRUE(MakeFolder(root + L"\\two"));
  ASSERT_TRUE(MakeFolder(root + L"\\two\\deep"));
  ASSERT_TRUE(WriteBytes(root + L"\\two\\deep\\x.dat", "x"));
  ASSERT_TRUE(WriteBytes(root + L"\\plain.txt", "p"));
  struct Case {
    std::wstring pattern;
    int result;
    std::wstring out;
  } cases[] = {
      {root + L"\\plain.txt", 1, root + L"\\plain.txt"},  // no wildcard: unchanged
      {root + L"\\pl?in.*", 1, root + L"\\plain.txt"},
      {root + L"\\*\\deep\\x.dat", 1, root + L"\\two\\deep\\x.dat"},
      {root + L"\\t*\\*\\*.dat", 1, root + L"\\two\\deep\\x.dat"},
      {root + L"\\two\\deep\\", 1, root + L"\\two\\deep\\"},  // an existing folder, as given
      {root + L"\\*\\missing.dat", 0, L""},
      {root + L"\\nothing\\*", 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    wchar_t out[kWidePathCapacity] = {};
    EXPECT_EQ(FindByPattern(c.pattern.c_str(), out, kWidePathCapacity), c.result);
    EXPECT_TRUE(SameFile(out, c.out)) << out;
  }
  Wipe(root);
}

TEST(FindByPattern, NeverHandsBackACutPath) {
  std::wstring root = FreshFolder(L"pattern_cut");
  ASSERT_TRUE(WriteBytes(root + L"\\Setup.exe", "MZ"));
  std::wstring pattern = root + L"\\*.exe";
  wchar_t out[8] = L"same";
  EXPECT_EQ(FindByPattern(pattern.c_str(), out, 8), 0);
  EXPECT_STREQ(out, L"same");
  Wipe(root);
}

}  // namespace
