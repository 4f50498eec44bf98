// Names as the launcher will treat them, and where its search finds the
// installer.
#include <gtest/gtest.h>

#include "sfxpack/entry_rules.h"

namespace {

using sfx::NamedEntry;

TEST(EntryRules, NamesTheLauncherRefusesOrMisplaces) {
  const struct {
    std::string name;
    const char* refusal;  // a part of the reason; null when accepted
  } cases[] = {
      {"Setup.exe", nullptr},
      {"docs/License.txt", nullptr},
      {"docs/", nullptr},
      {u8"caf\u00e9/\u65e5\u672c\u8a9e.txt", nullptr},
      {"..data/x", nullptr},
      {std::string(223, 'a'), nullptr},
      {std::string(224, 'a'), "more than fit under even the shortest temporary folder (223)"},
      {"../evil.exe", "its part '..' would climb out of the launcher's workspace"},
      {"a/../../evil.exe", "its part '..' would climb out"},
      {"./setup.exe", "its part '.' is made only of dots and blanks, which Windows reads as '.' or '..'"},
      {"a/. ./b", "its part '. .' is made only of dots and blanks"},
      {"/etc/passwd", "it begins with /, so it is an absolute path"},
      {"C:x.txt", "it holds ':', which Windows takes for a drive letter or a stream name"},
      {"data.txt:stream", "it holds ':'"},
      {"NUL", "its part 'NUL' names a device"},
      {"docs/con.txt", "its part 'con.txt' names a device"},
      {"LPT1 .log", "its part 'LPT1 .log' names a device"},
      {"COM\xc2\xb9", "names a device"},
      {"a\\b.txt", "cannot hold"},
      {"what?.txt", "cannot hold"},
      {"tab\there", "cannot hold"},
      {"pipe|name", "cannot hold"},
      {"dot.", "ends in a dot or blank"},
      {"blank /x", "ends in a dot or blank"},
      {" lead", "begins with a blank"},
      {std::string(233, 'a'), "233 characters long, more than fit under even the shortest temporary folder"},
      {std::string(170, '\xe6') , "not valid UTF-8"},
      {"\xff.txt", "not valid UTF-8"},
      {"\xc0\xaf", "not valid UTF-8"},                     // overlong "/"
      {"\xed\xa0\x80", "not valid UTF-8"},                 // an encoded surrogate
  };
  for (const auto& c : cases) {
    const std::string refusal = sfx::NameRefusal(c.name);
    if (!c.refusal) {
      EXPECT_EQ(refusal, "") << c.name;
    } else {
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.name << ": " << refusal;
    }
  }
}

TEST(EntryRules, LongNamesCountUnitsAndBytes) {
  // 171 CJK characters: within 223 units but 513 bytes, past the reader's 511.
  std::string name;
  for (int i = 0; i < 171; ++i) name += u8"\u65e5";
  EXPECT_NE(sfx::NameRefusal(name).find("bytes long"), std::string::npos);
  // A character outside the basic plane takes two units.
  std::string wide;
  for (int i = 0; i < 117; ++i) wide += u8"\U0001F600";
  EXPECT_NE(sfx::NameRefusal(wide).find("234 characters"), std::string::npos) << sfx::NameRefusal(wide);
}

TEST(EntryRules, NamesThatFitOnlyUnderShortTemporaryFoldersAreWarnedAbout) {
  EXPECT_EQ(sfx::NameWarning(std::string(126, 'a')), "");
  EXPECT_NE(sfx::NameWarning(std::string(127, 'a')).find("127 characters long"), std::string::npos);
  EXPECT_EQ(sfx::NameRefusal(std::string(133, 'a')), "") << "a warning, not a refusal";
}

TEST(EntryRules, NamesThatWindowsTakesForOne) {
  const struct {
    std::vector<NamedEntry> entries;
    const char* collision;
  } cases[] = {
      {{{"a.txt", false}, {"b.txt", false}}, ""},
      {{{"Read.txt", false}, {"READ.TXT", false}}, "the names 'Read.txt' and 'READ.TXT' would be one file on Windows"},
      {{{"docs/", true}, {"DOCS", false}}, "'DOCS' is a file, but 'docs/' needs a folder on the same path"},
      {{{u8"\u00e9t\u00e9", false}, {u8"\u00c9T\u00c9", false}}, "would be one file"},
      {{{u8"\u0434\u0430", false}, {u8"\u0414\u0410", false}}, "would be one file"},
      {{{"a/x", false}, {"A/X", false}}, "the names 'a/x' and 'A/X' would be one file on Windows"},
      // One path spelled twice: empty components add nothing.
      {{{"a//b.txt", false}, {"a/b.txt", false}}, "'a//b.txt' and 'a/b.txt' are one path spelled twice"},
      {{{"a/b.txt", false}, {"a/b.txt/", false}}, "'a/b.txt' and 'a/b.txt/' are one path spelled twice"},
      {{{"docs/", true}, {"docs//", true}}, "'docs/' and 'docs//' are one path spelled twice"},
      // A file where a folder must stand, in either order.
      {{{"a", false}, {"a/b.txt", false}}, "'a' is a file, but 'a/b.txt' needs a folder on the same path"},
      {{{"a/b.txt", false}, {"A", false}}, "'A' is a file, but 'a/b.txt' needs a folder on the same path"},
      {{{"a/b/c.txt", false}, {"a/B", false}}, "'a/B' is a file, but 'a/b/c.txt' needs a folder"},
      {{{"a/", true}, {"a", false}}, "'a' is a file, but 'a/' needs a folder on the same path"},
      // A folder entry beside its contents, before or after them, is no clash.
      {{{"a/", true}, {"a/b.txt", false}}, ""},
      {{{"a/b.txt", false}, {"A/", true}}, ""},
      {{{"a/b/", true}, {"a/b/c.txt", false}, {"a/", true}}, ""},
  };
  for (const auto& c : cases) {
    const std::string found = sfx::NameCollision(c.entries);
    if (!*c.collision)
      EXPECT_EQ(found, "") << c.entries[0].name;
    else
      EXPECT_NE(found.find(c.collision), std::string::npos) << c.entries[0].name << ": " << found;
  }
}

TEST(EntryRules, InstallerSearchFollowsTheLauncher) {
  const struct {
    std::vector<NamedEntry> entries;
    std::vector<std::string> found;  // candidate names; "name/" for folders
  } cases[] = {
      {{{"Setup.exe", false}, {"MySetup.exe", false}}, {"Setup.exe"}},
      {{{"setup.EXE", false}}, {"setup.EXE"}},
      {{{"MySetup.exe", false}, {"readme.txt", false}}, {"MySetup.exe"}},
      {{{"ASetup.exe", false}, {"BSetup.exe", false}}, {"ASetup.exe", "BSetup.exe"}},
      {{{"bin/", true}, {"bin/Setup.exe", false}}, {"bin/Setup.exe"}},
      {{{"bin/Setup.exe", false}}, {"bin/Setup.exe"}},                 // folder without an entry
      {{{"a/b/Setup.exe", false}}, {}},                                 // two levels down
      {{{"Setup.exe/", true}, {"Setup.exe/x", false}}, {"Setup.exe/"}}, // a folder
      {{{"Tools/", true}, {"Tools/MySetup.exe", false}}, {}},           // only Setup.exe one down
      {{{"x/", true}, {"x/Setup.exe/", true}}, {"x/Setup.exe/"}},
      {{{"readme.txt", false}}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names;
    for (const sfx::InstallerCandidate& found : sfx::FindInstallerCandidates(c.entries))
      names.push_back(found.name + (found.folder ? "/" : ""));
    EXPECT_EQ(names, c.found) << c.entries[0].name;
  }
}

}  // namespace
