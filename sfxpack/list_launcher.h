// `sfxpack --list`: what a launcher carries, read back through the
// launcher's own ZIP reader, every entry inflated and checked on the way.
#pragma once
#include <filesystem>
#include <ostream>
#include <string>

namespace sfx {

// Prints the listing to out; false with a one-line *error when the file is
// not a launcher or its payload does not read whole.
bool ListLauncher(const std::filesystem::path& launcher, std::ostream& out, std::string* error);

}  // namespace sfx
