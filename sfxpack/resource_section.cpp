#include "sfxpack/resource_section.h"

#include <algorithm>
#include <map>

#include "sfxpack/le_bytes.h"
#include "sfxpack/text_units.h"

namespace sfx {

namespace {

// Named keys first, by text, then numbers ascending.
struct KeyOrder {
  bool operator()(const ResourceKey& a, const ResourceKey& b) const {
    if (a.text.empty() != b.text.empty()) return !a.text.empty();
    if (!a.text.empty()) return a.text < b.text;
    return a.id < b.id;
  }
};

using Languages = std::map<uint32_t, const Resource*>;
using Names = std::map<ResourceKey, Languages, KeyOrder>;
using Types = std::map<ResourceKey, Names, KeyOrder>;

size_t Align(size_t value, size_t to) { return (value + to - 1) / to * to; }

size_t TableSize(size_t entries) { return 16 + 8 * entries; }

}  // namespace

ResourceSection LayOutResources(const std::vector<Resource>& resources, const Resource& last, uint32_t rva) {
  Types types;
  for (const Resource& r : resources) types[r.type][r.name][r.language] = &r;
  types[last.type][last.name][last.language] = &last;

  // Sizes of the three levels of tables, then strings, entries and data.
  size_t tables = TableSize(types.size());
  size_t leaves = 0;
  std::map<std::wstring, size_t> strings;
  for (const auto& t : types) {
    if (!t.first.text.empty()) strings[t.first.text] = 0;
    tables += TableSize(t.second.size());
    for (const auto& n : t.second) {
      if (!n.first.text.empty()) strings[n.first.text] = 0;
      tables += TableSize(n.second.size());
      leaves += n.second.size();
    }
  }
  size_t at = tables;
  for (auto& s : strings) {
    s.second = at;
    at += 2 + 2 * s.first.size();
  }
  const size_t entries = Align(at, 8);
  size_t dataAt = Align(entries + 16 * leaves, 8);

  std::string out;
  std::string entryBlock;
  std::string dataBlock;
  ResourceSection section;
  size_t nextTable = 0;
  auto keyField = [&](const ResourceKey& key) {
    return key.text.empty() ? key.id : static_cast<uint32_t>(0x80000000u | strings[key.text]);
  };
  auto putTableHead = [&](size_t named, size_t numbered) {
    Put32(out, 0);  // characteristics
    Put32(out, 0);  // time stamp: none, so the output depends on its inputs only
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(named));
    Put16(out, static_cast<uint32_t>(numbered));
  };
  auto counts = [](const auto& map, size_t* named, size_t* numbered) {
    *named = *numbered = 0;
    for (const auto& item : map) ++(item.first.text.empty() ? *numbered : *named);
  };

  // Breadth first: the type table, then every name table, then every
  // language table, each level in order.
  size_t named, numbered;
  counts(types, &named, &numbered);
  putTableHead(named, numbered);
  nextTable = TableSize(types.size());
  for (const auto& t : types) {
    Put32(out, keyField(t.first));
    Put32(out, static_cast<uint32_t>(0x80000000u | nextTable));
    nextTable += TableSize(t.second.size());
  }
  for (const auto& t : types) {
    counts(t.second, &named, &numbered);
    putTableHead(named, numbered);
    for (const auto& n : t.second) {
      Put32(out, keyField(n.first));
      Put32(out, static_cast<uint32_t>(0x80000000u | nextTable));
      nextTable += TableSize(n.second.size());
    }
  }
  size_t leaf = 0;
  for (const auto& t : types) {
    for (const auto& n : t.second) {
      putTableHead(0, n.second.size());
      for (const auto& l : n.second) {
        Put32(out, l.first);
        Put32(out, static_cast<uint32_t>(entries + 16 * leaf++));
        const Resource* r = l.second;
        const bool isLast = r == &last;
        // The last resource's data goes after all the others.
        Put32(entryBlock, isLast ? 0 : static_cast<uint32_t>(rva + dataAt + dataBlock.size()));
        if (isLast) section.lastSizeAt = entries + entryBlock.size();
        Put32(entryBlock, isLast ? 0 : static_cast<uint32_t>(r->data.size()));
        Put32(entryBlock, r->codePage);
        Put32(entryBlock, 0);
        if (!isLast) {
          dataBlock += r->data;
          dataBlock.resize(Align(dataBlock.size(), 8), '\0');
        }
      }
    }
  }
  for (const auto& s : strings) {
    Put16(out, static_cast<uint32_t>(s.first.size()));
    PutUnits(out, s.first);
  }
  out.resize(entries, '\0');
  out += entryBlock;
  out.resize(dataAt, '\0');
  out += dataBlock;
  // The last resource's data address, now that the others are placed.
  Set32(out, section.lastSizeAt - 4, static_cast<uint32_t>(rva + out.size()));
  section.head = std::move(out);
  return section;
}

}  // namespace sfx
