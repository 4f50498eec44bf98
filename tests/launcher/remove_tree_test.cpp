// RemoveTree: whole trees go, whatever their attributes and path lengths;
// filters keep what they keep; unusable paths touch nothing.
#include "launcher/workspace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/launcher/test_tree.h"

using namespace test_tree;

namespace {

std::wstring CurrentDirectory() {
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  return cwd;
}

TEST(RemoveTree, RemovesNestedFilesWhateverTheirAttributes) {
  std::wstring root = FreshFolder(L"rt_attributes");
  ASSERT_TRUE(MakeFolder(root + L"\\a"));
  ASSERT_TRUE(MakeFolder(root + L"\\a\\b"));
  ASSERT_TRUE(MakeFolder(root + L"\\empty"));
  ASSERT_TRUE(WriteBytes(root + L"\\plain.txt", "1"));
  ASSERT_TRUE(WriteBytes(root + L"\\a\\readonly.txt", "2", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(WriteBytes(root + L"\\a\\b\\hidden.sys", "3", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesW((root + L"\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(RemoveTree(root.c_str(), 1000, nullptr, nullptr), 0);
  EXPECT_FALSE(Exists(root));
}

TEST(RemoveTree, RemovesPathsLongerThanTheOldLimit) {
  std::wstring root = FreshFolder(L"rt_long");
  std::wstring deep = root;
  while (deep.size() < 420) {
    deep += L"\\" + std::wstring(60, L'd');
    ASSERT_TRUE(MakeFolder(deep));
  }
  std::wstring file = deep + L"\\" + std::wstring(100, L'f') + L".txt";
  ASSERT_GT(file.size(), 500u);
  ASSERT_TRUE(WriteBytes(file, "deep", FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(RemoveTree(root.c_str(), 1000, nullptr, nullptr), 0);
  EXPECT_FALSE(Exists(root));
  Wipe(root);
}

int KeepNamed(const wchar_t* path, void* context) {
  const wchar_t* keep = static_cast<const wchar_t*>(context);
  size_t n = wcslen(path), k = wcslen(keep);
  return !(n >= k && _wcsicmp(path + n - k, keep) == 0);
}

TEST(RemoveTree, FilterKeepsOneFileAndTheFoldersHoldingIt) {
  std::wstring root = FreshFolder(L"rt_filter");
  ASSERT_TRUE(MakeFolder(root + L"\\logs"));
  ASSERT_TRUE(MakeFolder(root + L"\\other"));
  ASSERT_TRUE(WriteBytes(root + L"\\a.txt", "a"));
  ASSERT_TRUE(WriteBytes(root + L"\\other\\b.txt", "b"));
  ASSERT_TRUE(WriteBytes(root + L"\\logs\\keep.log", "kept"));
  ASSERT_TRUE(WriteBytes(root + L"\\logs\\drop.log", "dropped"));
  DWORD start = GetTickCount();
  EXPECT_EQ(RemoveTree(root.c_str(), 1000, const_cast<wchar_t*>(L"\\logs\\keep.log"), KeepNamed), 1);
  EXPECT_LT(GetTickCount() - start, 900u) << "a kept entry is no reason to retry its folders";
  EXPECT_EQ(ReadBytes(root + L"\\logs\\keep.log"), "kept");
  EXPECT_FALSE(Exists(root + L"\\logs\\drop.log"));
  EXPECT_FALSE(Exists(root + L"\\a.txt"));
  EXPECT_FALSE(Exists(root + L"\\other"));
  Wipe(root);
}

int FaultingFilter(const wchar_t*, void*) {
  volatile int* nowhere = nullptr;
  return *nowhere;
}

TEST(RemoveTree, AFilterThatFaultsLetsEntriesGo) {
  std::wstring root = FreshFolder(L"rt_fault");
  ASSERT_TRUE(WriteBytes(root + L"\\x.txt", "x"));
  EXPECT_NE(RemoveTree(root.c_str(), 1000, nullptr, FaultingFilter), 0);
  EXPECT_FALSE(Exists(root));
}

TEST(RemoveTree, UnusablePathsTouchNothing) {
  std::wstring root = FreshFolder(L"rt_unusable");
  std::wstring file = root + L"\\file.txt";
  ASSERT_TRUE(WriteBytes(file, "stays"));
  std::wstring cwd = CurrentDirectory();
  struct Case {
    const wchar_t* path;
  } cases[] = {{nullptr}, {L""}, {L"C"}, {L"C:"}, {file.c_str()}, {L"C:\\no\\such\\folder"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : L"(null)");
    EXPECT_EQ(RemoveTree(c.path, 1000, nullptr, nullptr), 0);
  }
  EXPECT_EQ(ReadBytes(file), "stays");
  EXPECT_EQ(CurrentDirectory(), cwd);
  Wipe(root);
}

int KeepAndCount(const wchar_t*, void* context) {
  ++*static_cast<int*>(context);
  return 0;
}

TEST(RemoveTree, NeverStartsOnAWholeVolume) {
  // The filter keeps everything, so even a wrong answer would delete nothing.
  for (const wchar_t* root : {L"C:\\", L"C:\\.", L"\\\\?\\C:\\"}) {
    SCOPED_TRACE(root);
    int asked = 0;
    EXPECT_EQ(RemoveTree(root, 1000, &asked, KeepAndCount), 0);
    EXPECT_EQ(asked, 0);
  }
}

TEST(RemoveTree, RestoresTheCurrentDirectoryAndLeavesHeldFilesAfterRetrying) {
  std::wstring root = FreshFolder(L"rt_held");
  ASSERT_TRUE(WriteBytes(root + L"\\held.txt", "held"));
  ASSERT_TRUE(WriteBytes(root + L"\\free.txt", "free"));
  HANDLE held = CreateFileW((root + L"\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::wstring cwd = CurrentDirectory();
  DWORD start = GetTickCount();
  TreeLeftover leftover;
  EXPECT_EQ(RemoveTree(root.c_str(), 200, nullptr, nullptr, &leftover), 0);
  DWORD spent = GetTickCount() - start;
  CloseHandle(held);
  EXPECT_GE(spent, 300u) << "the file and then its folder are retried for the budget";
  // The folder stayed only for the file: one entry, named with its error.
  EXPECT_EQ(leftover.entries, 1);
  EXPECT_STREQ(leftover.first, L"held.txt");
  EXPECT_EQ(leftover.error, DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(Exists(root + L"\\held.txt"));
  EXPECT_FALSE(Exists(root + L"\\free.txt"));
  EXPECT_EQ(CurrentDirectory(), cwd);
  Wipe(root);
}

TEST(RemoveTree, AHeldFileDeepDownCostsEachFolderAboveItOneBudget) {
  // Held four folders down: the file and each folder of its chain resist for
  // one budget each (about 1.2 s here), never once per walk of the subtree
  // above them (which doubles per level, about 9 s here).
  std::wstring root = FreshFolder(L"rt_held_deep");
  std::wstring chain = root;
  for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) {
    ASSERT_TRUE(MakeFolder(chain + L"\\spare_" + name));
    ASSERT_TRUE(WriteBytes(chain + L"\\spare_" + name + L"\\x.txt", "x"));
    ASSERT_TRUE(WriteBytes(chain + L"\\free_" + name + L".txt", "free", FILE_ATTRIBUTE_READONLY));
    chain += std::wstring(L"\\") + name;
    ASSERT_TRUE(MakeFolder(chain));
  }
  ASSERT_TRUE(WriteBytes(chain + L"\\free.txt", "free"));
  std::wstring file = chain + L"\\held.txt";
  ASSERT_TRUE(WriteBytes(file, "held"));
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DWORD start = GetTickCount();
  TreeLeftover leftover;
  EXPECT_EQ(RemoveTree(root.c_str(), 200, nullptr, nullptr, &leftover), 0);
  DWORD spent = GetTickCount() - start;
  CloseHandle(held);
  EXPECT_LT(spent, 3000u);
  EXPECT_EQ(leftover.entries, 1) << "the folders above the file stayed only for it";
  EXPECT_STREQ(leftover.first, L"a\\b\\c\\d\\held.txt");
  EXPECT_EQ(leftover.error, DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadBytes(file), "held");
  std::wstring folder = root;
  for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Exists(folder + L"\\spare_" + name));
    EXPECT_FALSE(Exists(folder + L"\\free_" + name + L".txt"));
    folder += std::wstring(L"\\") + name;
    EXPECT_TRUE(IsFolder(folder));
  }
  EXPECT_FALSE(Exists(chain + L"\\free.txt"));
  Wipe(root);
}

TEST(RemoveTree, TellsWhatStayedOfItselfAndNothingWhenAllWent) {
  // Entries held open without sharing deletion: files and folders alike.
  struct Case {
    const char* name;
    std::vector<const wchar_t*> held;  // below the root; "" for the root itself
    int entries;
    const wchar_t* first;
  } cases[] = {
      {"nothing held", {}, 0, L""},
      {"the folder itself, open in another program", {L""}, 1, L""},
      {"an empty subfolder open, and a file beside it",
       {L"logs", L"Setup.exe"}, 2, nullptr},  // either may come first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring root = FreshFolder(L"rt_leftover");
    ASSERT_TRUE(MakeFolder(root + L"\\logs"));
    ASSERT_TRUE(WriteBytes(root + L"\\Setup.exe", "MZ"));
    ASSERT_TRUE(WriteBytes(root + L"\\free.txt", "free"));
    std::vector<HANDLE> handles;
    for (const wchar_t* below : c.held) {
      const std::wstring path = *below ? root + L"\\" + below : root;
      HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      handles.push_back(h);
    }
    TreeLeftover leftover;
    leftover.entries = -1;
    const int removed = RemoveTree(root.c_str(), 100, nullptr, nullptr, &leftover);
    for (HANDLE h : handles) CloseHandle(h);
    EXPECT_EQ(removed != 0, c.entries == 0);
    EXPECT_EQ(leftover.entries, c.entries);
    if (c.entries == 0) EXPECT_EQ(leftover.error, 0u);
    else EXPECT_EQ(leftover.error, DWORD(ERROR_SHARING_VIOLATION));
    if (c.first) EXPECT_STREQ(leftover.first, c.first);
    else EXPECT_TRUE(!wcscmp(leftover.first, L"logs") || !wcscmp(leftover.first, L"Setup.exe")) << leftover.first;
    EXPECT_FALSE(Exists(root + L"\\free.txt"));
    Wipe(root);
  }
}

TEST(RemoveTree, UnlinksLinksInsideTheTreeWithoutEnteringThem) {
  std::wstring outside = FreshFolder(L"rt_link_target");
  ASSERT_TRUE(WriteBytes(outside + L"\\precious.txt", "precious"));
  std::wstring root = FreshFolder(L"rt_link");
  std::wstring link = root + L"\\link";
  if (!CreateSymbolicLinkW(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
      !(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT)) {
    Wipe(root);
    Wipe(outside);
    GTEST_SKIP() << "this system makes no folder links";
  }
  EXPECT_NE(RemoveTree(root.c_str(), 1000, nullptr, nullptr), 0);
  EXPECT_FALSE(Exists(root));
  EXPECT_EQ(ReadBytes(outside + L"\\precious.txt"), "precious");
  Wipe(outside);
}

}  // namespace
