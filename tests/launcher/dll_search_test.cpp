// Loader hardening: DLLs planted beside the program or in the current
// directory load before it and never after it; system DLLs still load.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "launcher/dll_search.h"
#include "tests/launcher/installer_fixtures.h"
#include "tests/launcher/test_tree.h"

namespace {

using installer_fixtures::TestFolder;

// Loads name, reports whether it loaded, and unloads it again so that a
// later load searches afresh.
bool LoadsByName(const wchar_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (!module) return false;
  FreeLibrary(module);
  return true;
}

// A fresh folder made the current directory, holding the planted DLL.
struct PlantedCurrentDirectory {
  std::wstring folder, dll;
  wchar_t previous[MAX_PATH];
  PlantedCurrentDirectory() {
    folder = test_tree::FreshFolder(L"dll_cwd");
    dll = folder + L"\\qlnplanted_cwd.dll";
    CopyFileW((TestFolder() + L"\\qlnplanted_cwd.bin").c_str(), dll.c_str(), FALSE);
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.c_str());
  }
  ~PlantedCurrentDirectory() {
    SetCurrentDirectoryW(previous);
    test_tree::Wipe(folder);
  }
};

TEST(HardenDllSearch, PlantedDllsNoLongerLoadByName) {
  PlantedCurrentDirectory planted;
  ASSERT_NE(GetFileAttributesW(planted.dll.c_str()), INVALID_FILE_ATTRIBUTES);
  // The fixtures are real: the default search finds both.
  ASSERT_TRUE(LoadsByName(L"qlnplanted_app.dll")) << "beside the program";
  ASSERT_TRUE(LoadsByName(L"qlnplanted_cwd.dll")) << "in the current directory";

  HardenDllSearch();

  EXPECT_FALSE(LoadsByName(L"qlnplanted_app.dll"));
  EXPECT_FALSE(LoadsByName(L"qlnplanted_cwd.dll"));
  HMODULE version = LoadLibraryW(L"version.dll");
  ASSERT_NE(version, nullptr);
  EXPECT_NE(GetProcAddress(version, "GetFileVersionInfoSizeW"), nullptr);
  FreeLibrary(version);
  // A full path is not a search: the caller chose that file.
  EXPECT_TRUE(LoadsByName((TestFolder() + L"\\qlnplanted_app.dll").c_str()));
}

}  // namespace
