// Every launcher the build makes asks to be run from the swap file when it
// is started from a share or a removable drive, and its header checksum is
// the one the system computes (the system's own routine checks it here, not
// the build's): the stub, launchers the packer made from it, and launchers
// linked around a payload resource.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/launcher/installer_fixtures.h"
#include "tests/launcher/test_tree.h"

namespace {

using installer_fixtures::TestFolder;

struct FileHeaderFlags {
  bool read = false;
  WORD characteristics = 0;
};

FileHeaderFlags ReadFlags(const std::wstring& path) {
  FileHeaderFlags flags;
  const std::string image = test_tree::ReadBytes(path);
  if (image.size() < sizeof(IMAGE_DOS_HEADER)) return flags;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE ||
      static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > image.size())
    return flags;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return flags;
  flags.read = true;
  flags.characteristics = nt->FileHeader.Characteristics;
  return flags;
}

TEST(RunFromSwap, EveryLauncherCarriesBothFlagsAndAValidChecksum) {
  const std::wstring tests = TestFolder();
  const std::wstring build = tests.substr(0, tests.find_last_of(L'\\'));
  const std::wstring launchers[] = {
      build + L"\\bin\\sfx-stub.exe",
      build + L"\\bin\\sfx-launcher.exe",
      TestFolder() + L"\\e2e\\happy.exe",
      TestFolder() + L"\\e2e\\damaged.exe",
  };
  for (const std::wstring& path : launchers) {
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    const FileHeaderFlags flags = ReadFlags(path);
    ASSERT_TRUE(flags.read) << "no PE image";
    EXPECT_TRUE(flags.characteristics & IMAGE_FILE_NET_RUN_FROM_SWAP);
    EXPECT_TRUE(flags.characteristics & IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP);
    // What the linker set stays.
    EXPECT_TRUE(flags.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
    EXPECT_TRUE(flags.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);

    DWORD stored = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(const_cast<wchar_t*>(path.c_str()), &stored, &computed),
              static_cast<DWORD>(CHECKSUM_SUCCESS));
    EXPECT_NE(stored, 0u);
    EXPECT_EQ(stored, computed);
  }
}

}  // namespace
