// The path and string toolkit: bounded operations, trimming, existence
// tests, the path join and parent-folder creation.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/path_utils.h"
#include "tests/launcher/test_tree.h"

namespace {

const wchar_t kSentinel = L'#';

// A buffer pre-filled with sentinels, to see what an operation wrote.
struct Canvas {
  wchar_t units[64];
  Canvas() { wmemset(units, kSentinel, 64); }
  Canvas(const wchar_t* text) : Canvas() { wcscpy(units, text); }
  size_t UntouchedFrom(size_t index) const {
    while (index < 64 && units[index] == kSentinel) ++index;
    return index;
  }
};

struct CopyCase {
  size_t capacity;
  const wchar_t* source;
  const wchar_t* expected;  // null: target untouched
  HRESULT result;
};

TEST(StrCopyBounded, Cases) {
  const CopyCase cases[] = {
      {10, L"abc", L"abc", kStrOk},
      {4, L"abc", L"abc", kStrOk},
      {3, L"abc", L"ab", kStrCut},
      {1, L"abc", L"", kStrCut},
      {1, L"", L"", kStrOk},
      {5, nullptr, L"", kStrOk},
      {0, L"abc", nullptr, kStrInvalid},
      {0x80000000u, L"abc", nullptr, kStrInvalid},
  };
  for (const CopyCase& c : cases) {
    Canvas canvas;
    EXPECT_EQ(StrCopyBounded(canvas.units, c.capacity, c.source), c.result) << c.capacity;
    if (!c.expected) {
      EXPECT_EQ(canvas.UntouchedFrom(0), 64u);
      continue;
    }
    EXPECT_STREQ(canvas.units, c.expected);
    // Nothing at or behind the capacity is written.
    if (c.capacity < 64) {
      EXPECT_EQ(canvas.UntouchedFrom(c.capacity), 64u) << c.capacity;
    }
  }
  EXPECT_EQ(StrCopyBounded(nullptr, 4, L"a"), kStrInvalid);
}

TEST(StrLengthBounded, Cases) {
  struct Case { const wchar_t* text; size_t capacity; HRESULT result; size_t length; };
  const Case cases[] = {
      {L"abc", 4, kStrOk, 3},     {L"abc", 100, kStrOk, 3}, {L"", 1, kStrOk, 0},
      {L"abc", 3, kStrInvalid, 0}, {L"abc", 0, kStrInvalid, 0},
      {L"abc", 0x80000000u, kStrInvalid, 0}, {nullptr, 4, kStrInvalid, 0},
  };
  for (const Case& c : cases) {
    size_t length = 77;
    EXPECT_EQ(StrLengthBounded(c.text, c.capacity, &length), c.result) << c.capacity;
    EXPECT_EQ(length, c.length);
  }
}

TEST(StrAppendBounded, Cases) {
  struct Case { const wchar_t* start; size_t capacity; const wchar_t* source;
                const wchar_t* expected; HRESULT result; };
  const Case cases[] = {
      {L"ab", 6, L"cd", L"abcd", kStrOk},
      {L"ab", 5, L"cd", L"abcd", kStrOk},
      {L"ab", 4, L"cd", L"abc", kStrCut},
      {L"ab", 3, L"c", L"ab", kStrCut},
      {L"ab", 3, L"", L"ab", kStrOk},
      {L"", 3, L"xyz", L"xy", kStrCut},
      {L"abcd", 4, L"x", nullptr, kStrInvalid},  // no terminator inside capacity
      {L"ab", 0, L"x", nullptr, kStrInvalid},
  };
  for (const Case& c : cases) {
    Canvas canvas(c.start);
    Canvas before(c.start);
    EXPECT_EQ(StrAppendBounded(canvas.units, c.capacity, c.source), c.result) << c.start;
    if (c.expected) {
      EXPECT_STREQ(canvas.units, c.expected);
    } else {
      EXPECT_EQ(0, wmemcmp(canvas.units, before.units, 64));
    }
  }
}

TEST(StrFormatBounded, WorkspaceNameAndDirectives) {
  wchar_t name[kWidePathCapacity];
  EXPECT_EQ(StrFormatBounded(name, kWidePathCapacity, L"_qln_setup_sfx_%08x", 0x1A2B), kStrOk);
  EXPECT_STREQ(name, L"_qln_setup_sfx_00001a2b");

  wchar_t text[64];
  EXPECT_EQ(StrFormatBounded(text, 64, L"%s|%3S|%02i-%04i|%i", L"wide", "Oct", 5, 21, -99), kStrOk);
  EXPECT_STREQ(text, L"wide|Oct|05-0021|-99");
  EXPECT_EQ(StrFormatBounded(text, 64, L"[%3S]", "ab"), kStrOk);
  EXPECT_STREQ(text, L"[ ab]");
}

TEST(StrFormatBounded, FitAndCut) {
  // "_qln_setup_sfx_00001a2b" is 23 units.
  struct Case { size_t capacity; const wchar_t* expected; HRESULT result; };
  const Case cases[] = {
      {24, L"_qln_setup_sfx_00001a2b", kStrOk},  // exactly capacity - 1 units
      {23, L"_qln_setup_sfx_00001a2", kStrCut},
      {5, L"_qln", kStrCut},
      {1, L"", kStrCut},
  };
  for (const Case& c : cases) {
    Canvas canvas;
    EXPECT_EQ(StrFormatBounded(canvas.units, c.capacity, L"_qln_setup_sfx_%08x", 0x1A2B), c.result);
    EXPECT_STREQ(canvas.units, c.expected);
    EXPECT_EQ(canvas.UntouchedFrom(c.capacity), 64u);
  }
  Canvas empty;
  EXPECT_EQ(StrFormatBounded(empty.units, 1, L""), kStrOk);
  EXPECT_STREQ(empty.units, L"");
  Canvas untouched;
  EXPECT_EQ(StrFormatBounded(untouched.units, 0, L"x"), kStrInvalid);
  EXPECT_EQ(StrFormatBounded(untouched.units, 0x80000000u, L"x"), kStrInvalid);
  EXPECT_EQ(untouched.UntouchedFrom(0), 64u);
}

// Two pages; the second is made inaccessible, so a text that ends at the end
// of the first page shows whether a reader looks past its terminator.
struct PageEdge {
  wchar_t* first;
  PageEdge() {
    first = static_cast<wchar_t*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(reinterpret_cast<char*>(first) + 4096, 4096, PAGE_NOACCESS, &old);
  }
  ~PageEdge() { VirtualFree(first, 0, MEM_RELEASE); }
  wchar_t* LastUnits(size_t count) { return first + 2048 - count; }
  wchar_t* Inaccessible() { return first + 2048; }
};

TEST(IsBadText, Cases) {
  PageEdge edge;
  ASSERT_NE(edge.first, nullptr);
  EXPECT_TRUE(IsBadText(nullptr));
  EXPECT_FALSE(IsBadText(L""));
  EXPECT_FALSE(IsBadText(L"C:\\Temp"));
  EXPECT_TRUE(IsBadText(edge.Inaccessible()));
  // A one-unit buffer holding only its terminator, right before the
  // inaccessible page: readable, and the unit behind it is never touched.
  wchar_t* lone = edge.LastUnits(1);
  lone[0] = L'\0';
  EXPECT_FALSE(IsBadText(lone));
  wchar_t* two = edge.LastUnits(2);
  two[0] = L'a';
  two[1] = L'\0';
  EXPECT_FALSE(IsBadText(two));
  // No terminator before the page ends.
  wchar_t* open = edge.LastUnits(3);
  wmemset(open, L'x', 3);
  EXPECT_TRUE(IsBadText(open));
}

TEST(TrimBlanks, Cases) {
  struct Case { const wchar_t* text; const wchar_t* expected; };
  const Case cases[] = {
      {L"", L""},           {L"   ", L""},        {L" \t\r\n", L""},
      {L" a b \r\n", L"a b"}, {L"\t\tx", L"x"},     {L"x  ", L"x"},
      {L"abc", L"abc"},     {L"a \t b", L"a \t b"}, {L"\n", L""},
  };
  for (const Case& c : cases) {
    Canvas canvas(c.text);
    EXPECT_EQ(TrimBlanks(canvas.units), canvas.units);
    EXPECT_STREQ(canvas.units, c.expected) << "from '" << std::wstring(c.text).size() << "'";
  }
  EXPECT_EQ(TrimBlanks(nullptr), nullptr);
}

struct JoinCase {
  const wchar_t* base;
  const wchar_t* tail;
  const wchar_t* expected;
};

TEST(JoinPath, Cases) {
  const JoinCase cases[] = {
      {L"C:\\Users\\me\\AppData\\Local\\Temp\\", L"_qln_setup_sfx_00001a2b",
       L"C:\\Users\\me\\AppData\\Local\\Temp\\_qln_setup_sfx_00001a2b"},
      {L"C:\\a\\b", L"..\\..\\x/y", L"C:\\x\\y"},
      {L"C:\\a", L"", L"C:\\a"},
      {L"C:\\a\\", L"\\b\\", L"C:\\a\\b\\"},
      {L"C:\\a", L"..\\..\\..\\x", L"C:\\x"},
      {L"C:\\a\\b\\", L" \\/ \t\r\n", L"C:\\a\\b"},
      {L"  C:/a/b// \t", L" sub/file.txt \n", L"C:\\a\\b\\sub\\file.txt"},
      {L"C:\\a\\b", L".\\.\\x", L"C:\\a\\b\\x"},
      {L"C:\\a\\b", L"../.\\x", L"C:\\a\\x"},
      {L"C:\\a\\b", L".\\..\\x", L"C:\\a\\b\\..\\x"},  // "..\" after ".\" is text
      {L"C:\\a\\b", L"..\\", L"C:\\a"},
      {L"C:\\a\\b", L"..", L"C:\\a\\b\\.."},
  };
  for (const JoinCase& c : cases) {
    wchar_t base[kWidePathCapacity];
    wchar_t tail[kWidePathCapacity];
    wcscpy(base, c.base);
    wcscpy(tail, c.tail);
    EXPECT_EQ(JoinPath(base, kWidePathCapacity, tail), base);
    EXPECT_STREQ(base, c.expected) << "tail " << std::wstring(c.tail).size() << " units";
  }
}

TEST(JoinPath, CutToCapacityAndNulls) {
  Canvas base(L"C:\\a");
  wchar_t tail[] = L"bcdefgh";
  JoinPath(base.units, 8, tail);
  EXPECT_STREQ(base.units, L"C:\\a\\bc");
  EXPECT_EQ(base.UntouchedFrom(8), 64u);

  wchar_t some[] = L"x";
  EXPECT_EQ(JoinPath(nullptr, 10, some), nullptr);
  Canvas alone(L"C:\\a\\");
  EXPECT_EQ(JoinPath(alone.units, 64, nullptr), alone.units);
  EXPECT_STREQ(alone.units, L"C:\\a");
}

// A fresh folder under %TEMP%, removed with what the test made inside it.
class ScratchFolder : public ::testing::Test {
 protected:
  std::wstring root;
  void SetUp() override {
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    root = test_tree::FreshFolder(std::wstring(test.begin(), test.end()).c_str());
    ASSERT_TRUE(test_tree::IsFolder(root));
  }
  void TearDown() override { test_tree::Wipe(root); }
  std::wstring MakeFile(const std::wstring& name) {
    std::wstring path = root + L"\\" + name;
    test_tree::WriteBytes(path, "");
    return path;
  }
  static bool IsFolder(const std::wstring& path) { return test_tree::IsFolder(path); }
};

using Existence = ScratchFolder;

TEST_F(Existence, FileExists) {
  std::wstring file = MakeFile(L"present.txt");
  std::wstring tooLong = root + L"\\" + std::wstring(260, L'a');
  struct Case { std::wstring path; int expected; };
  const Case cases[] = {
      {file, 1},
      {root, 0},  // a folder is not a file
      {root + L"\\missing.txt", 0},
      {L"C:", 0},
      {L"", 0},
      {tooLong, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExists(c.path.c_str()), c.expected) << c.path.size();
  EXPECT_EQ(FileExists(nullptr), 0);
}

TEST_F(Existence, DirectoryExists) {
  std::wstring file = MakeFile(L"plain.txt");
  struct Case { std::wstring path; int expected; };
  const Case cases[] = {
      {root, 1},
      {root + L"\\", 1},
      {root + L"/ \t", 1},
      {L"C:\\Windows\\", 1},
      {file, 0},
      {root + L"\\missing", 0},
      {root + L"\\missing\\", 0},
      {root + L"\\" + std::wstring(260, L'a'), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(DirectoryExists(c.path.c_str()), c.expected) << c.path.size();
  EXPECT_EQ(DirectoryExists(L""), 0);
  EXPECT_EQ(DirectoryExists(nullptr), 0);
}

TEST_F(Existence, BareNameIsNeverAFolder) {
  ASSERT_TRUE(CreateDirectoryW((root + L"\\Temp").c_str(), nullptr));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
  int bare = DirectoryExists(L"Temp");
  int dotted = DirectoryExists(L".\\Temp");
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(bare, 0);
  EXPECT_EQ(dotted, 1);
}

TEST_F(Existence, QuietAttributesRestoresTheErrorMode) {
  UINT outer = SetErrorMode(SEM_NOGPFAULTERRORBOX);
  DWORD present = QuietAttributes(root.c_str());
  UINT afterPresent = GetErrorMode();
  DWORD missing = QuietAttributes((root + L"\\missing").c_str());
  UINT afterMissing = GetErrorMode();
  SetErrorMode(outer);
  EXPECT_NE(present, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(present & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(missing, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(afterPresent, static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
  EXPECT_EQ(afterMissing, static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
}

using ParentFolders = ScratchFolder;

TEST_F(ParentFolders, CreatesEveryFolderButTheLeaf) {
  std::wstring path = root + L"\\w\\x\\_unused.tmp";
  std::wstring buffer = path;
  EXPECT_EQ(CreateParentDirectories(&buffer[0]), &buffer[0]);
  EXPECT_EQ(buffer, path);
  EXPECT_TRUE(IsFolder(root + L"\\w"));
  EXPECT_TRUE(IsFolder(root + L"\\w\\x"));
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  // Again, with everything present: nothing changes.
  CreateParentDirectories(&buffer[0]);
  EXPECT_TRUE(IsFolder(root + L"\\w\\x"));
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ParentFolders, SlashesAfterTheLastBackslash) {
  std::wstring buffer = root + L"\\s/t/leaf";
  CreateParentDirectories(&buffer[0]);
  EXPECT_TRUE(IsFolder(root + L"\\s"));
  EXPECT_TRUE(IsFolder(root + L"\\s\\t"));
  EXPECT_FALSE(IsFolder(root + L"\\s\\t\\leaf"));
}

TEST_F(ParentFolders, RefusesWhatItCannotHandle) {
  // A path too long for the prefix buffer is left alone entirely, rather
  // than creating folders from cut prefixes.
  std::wstring tooLong = root + L"\\first\\" + std::wstring(520, L'a') + L"\\leaf";
  CreateParentDirectories(&tooLong[0]);
  EXPECT_FALSE(IsFolder(root + L"\\first"));
  wchar_t empty[] = L"";
  EXPECT_EQ(CreateParentDirectories(empty), empty);
  EXPECT_EQ(CreateParentDirectories(nullptr), nullptr);
  wchar_t bare[] = L"leafonly";
  EXPECT_EQ(CreateParentDirectories(bare), bare);
  EXPECT_STREQ(bare, L"leafonly");
}

}  // namespace
