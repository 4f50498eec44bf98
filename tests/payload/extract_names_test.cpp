// Entry names: conversion from UTF-8 and the test that keeps them inside the
// workspace.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "payload/extract_payload.h"

namespace {

TEST(Utf8ToWide, ConvertsAndReportsUnits) {
  wchar_t out[MAX_PATH];
  EXPECT_EQ(Utf8ToWide(out, nullptr), 0);
  EXPECT_EQ(Utf8ToWide(nullptr, "abc"), 4);
  EXPECT_EQ(Utf8ToWide(out, "docs/\xC3\x9C" "ber.txt"), 14);
  EXPECT_STREQ(out, L"docs/\u00DCber.txt");
  EXPECT_EQ(Utf8ToWide(out, "\xF0\x9F\x98\x80"), 3) << "a surrogate pair";
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDE00);
}

TEST(Utf8ToWide, FallsBackToBytesForNamesThatDoNotFit) {
  std::string name(300, 'a');
  name[0] = '\xC3';  // not valid UTF-8 with what follows; bytes are widened signed
  wchar_t out[MAX_PATH];
  int r = Utf8ToWide(out, name.c_str());
  EXPECT_EQ(r, -1 - MAX_PATH);
  EXPECT_EQ(out[0], 0xFFC3);
  EXPECT_EQ(out[1], L'a');
  EXPECT_EQ(wcslen(out), size_t(MAX_PATH - 1));
}

TEST(IsSafeEntryName, KeepsNamesInsideTheFolder) {
  struct Case {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"Setup.exe", true},
      {L"docs/guide/intro.txt", true},
      {L"docs/", true},
      {L"a//b", true},
      {L"..a/b..", true},
      {L"a/.hidden", true},
      {L"CONFIG.SYS", true},
      {L"com10.txt", true},
      {L"nul-sink/lpt", true},
      {L"", false},
      {L"../x", false},
      {L"a/../../x", false},
      {L"a\\..\\..\\x", false},
      {L"a/..", false},
      {L"./x", false},
      {L"a/./x", false},
      {L".../x", false},
      {L".. /x", false},
      {L" ../x", false},
      {L"a/ /x", false},
      {L"/x", false},
      {L"\\x", false},
      {L" /x", false},
      {L"//server/share/x", false},
      {L"\\\\?\\C:\\x", false},
      {L"C:/x", false},
      {L"C:x", false},
      {L"a.txt:stream", false},
      {L"NUL", false},
      {L"nul.txt", false},
      {L"sub/Con", false},
      {L"aux .log", false},
      {L"COM1", false},
      {L"lpt9.bin", false},
      {L"COM\u00B9", false},
      {L"CONOUT$", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsSafeEntryName(c.name), c.safe);
  }
  EXPECT_FALSE(IsSafeEntryName(nullptr));
}

}  // namespace
