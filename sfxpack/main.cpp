// sfxpack's entry point: the arguments as UTF-8, whatever the platform.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "sfxpack/sfxpack.h"

#ifdef _WIN32
// The wide entry point: the narrow arguments would lose every character
// outside the ANSI code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const auto text = std::filesystem::path(argv[i]).u8string();
    args.emplace_back(text.begin(), text.end());
  }
  return sfx::RunSfxpack(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return sfx::RunSfxpack(args, std::cout, std::cerr);
}
#endif
