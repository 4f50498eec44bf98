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
      {"../evil.exe", "leave the launcher's workspace"},
      {"a/../../evil.exe", "leave the launcher's workspace"},
      {"a/. ./b", "leave the launcher's workspace"},
      {"/etc/passwd", "leave the launcher's workspace"},
      {"C:x.txt", "leave the launcher's workspace"},
      {"data.txt:stream", "leave the launcher's workspace"},
      {"NUL", "name a device"},
      {"docs/con.txt", "name a device"},
      {"LPT1 .log", "name a device"},
      {"COM\xc2\xb9", "name a device"},
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
      {{{"Read.txt", false}, {"READ.TXT", false}}, "'Read.txt' and 'READ.TXT'"},
      {{{"docs/", true}, {"DOCS", false}}, "'docs/' and 'DOCS'"},
      {{{u8"\u00e9t\u00e9", false}, {u8"\u00c9T\u00c9", false}}, "would"},
      {{{u8"\u0434\u0430", false}, {u8"\u0414\u0410", false}}, "would"},
      {{{"a/x", false}, {"A/X", false}}, "'a/x' and 'A/X'"},
  };
  for (const auto& c : cases) {
    const std::string found = sfx::NameCollision(c.entries);
    if (!*c.collision || std::string(c.collision) == "would")
      EXPECT_EQ(found.empty(), !*c.collision) << c.entries[0].name;
    else
      EXPECT_EQ(found, c.collision);
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
