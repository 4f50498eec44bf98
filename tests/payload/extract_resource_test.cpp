// The whole road from the program's own resource to the files on disk, with
// the sample package the launcher ships.
#include <gtest/gtest.h>

#include <string>

#include "payload/extract_payload.h"
#include "tests/launcher/test_tree.h"
#include "tests/payload/progress_probe.h"

using namespace test_tree;

namespace {

TEST(ExtractPayload, UnpacksTheSamplePackageFromTheResource) {
  ProgressProbe probe;
  ExtractProgress progress = probe.Record();
  std::wstring folder = FreshFolder(L"resource");
  ASSERT_EQ(ExtractPayload(GetModuleHandleW(nullptr), folder.c_str(), &progress), 1);
  const std::vector<std::wstring>& texts = probe.texts;
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[0], L"Finding setup archive ...");
  EXPECT_EQ(texts[1], L"Loading setup archive ...");
  EXPECT_EQ(texts[2], L"Extracting files ...");
  EXPECT_EQ(texts.back(), L"Extraction complete!!!");

  std::wstring source = QLN_SAMPLE_PAYLOAD;
  for (wchar_t& c : source)
    if (c == L'/') c = L'\\';
  for (const wchar_t* name : {L"ReadMe.txt", L"setup.ini", L"docs\\License.txt"}) {
    SCOPED_TRACE(name);
    bool ok = false;
    std::string expected = ReadBytes(source + L"\\" + name, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadBytes(folder + L"\\" + name), expected);
  }
  EXPECT_GT(ReadBytes(folder + L"\\Setup.exe").size(), 1000u);
  Wipe(folder);
}

}  // namespace
