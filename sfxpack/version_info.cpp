#include "sfxpack/version_info.h"

#include <vector>

#include "sfxpack/le_bytes.h"
#include "sfxpack/text_units.h"

namespace sfx {

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;

void PadTo4(std::string& s) { s.resize((s.size() + 3) / 4 * 4, '\0'); }

// One node: length, value length, type, key, padding, value, padding,
// children. valueLength counts bytes for binary values, units for text.
std::string Node(const std::wstring& key, const std::string& value, uint32_t valueLength, bool text,
                 const std::vector<std::string>& children) {
  std::string node;
  Put16(node, 0);
  Put16(node, valueLength);
  Put16(node, text ? 1 : 0);
  PutUnits(node, key);
  Put16(node, 0);
  PadTo4(node);
  node += value;
  for (const std::string& child : children) {
    PadTo4(node);
    node += child;
  }
  Set16(node, 0, static_cast<uint32_t>(node.size()));
  return node;
}

bool StringNode(const std::wstring& key, const std::string& utf8, std::string* node) {
  std::wstring units;
  if (!Utf8ToUnits(utf8, &units)) return false;
  std::string value;
  PutUnits(value, units);
  Put16(value, 0);
  *node = Node(key, value, static_cast<uint32_t>(units.size() + 1), true, {});
  return true;
}

// A zero-terminated UTF-16 text at [at, end), as UTF-8.
std::string ReadUnits(const std::string& s, size_t at, size_t end, size_t* after) {
  std::wstring units;
  while (at + 2 <= end) {
    const uint32_t u = Get16(s, at);
    at += 2;
    if (!u) break;
    units += static_cast<wchar_t>(u);
  }
  *after = at;
  return UnitsToUtf8(units);
}

// Collects "key=value" pairs of the string nodes under [at, end).
void CollectStrings(const std::string& s, size_t at, size_t end, int depth, std::string* summary) {
  while (at + 6 <= end && depth < 4) {
    const size_t length = Get16(s, at);
    if (length < 6 || at + length > end) return;
    const uint32_t valueLength = Get16(s, at + 2);
    const bool text = Get16(s, at + 4) == 1;
    size_t after = 0;
    const std::string key = ReadUnits(s, at + 6, at + length, &after);
    after = (after + 3) / 4 * 4;
    if (text && valueLength && depth == 2) {
      size_t ignored = 0;
      const std::string value = ReadUnits(s, after, at + length, &ignored);
      *summary += ", " + key + " \"" + value + "\"";
    } else if (key == "StringFileInfo" || depth == 1) {
      CollectStrings(s, after + (text ? 0 : valueLength), at + length, depth + 1, summary);
    }
    at = (at + length + 3) / 4 * 4;
  }
}

}  // namespace

bool ParseVersionNumber(const std::string& text, uint16_t number[4]) {
  for (int i = 0; i < 4; ++i) number[i] = 0;
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    uint32_t value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
      value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
      ++digits;
    }
    if (!digits || value > 0xFFFF) return false;
    number[part] = static_cast<uint16_t>(value);
    if (at == text.size()) return true;
    if (text[at++] != '.') return false;
  }
  return false;
}

bool BuildVersionResource(const VersionFields& f, std::string* resource) {
  std::string fixed;
  Put32(fixed, kFixedSignature);
  Put32(fixed, 0x00010000);
  const bool ownProduct = !f.productText.empty();
  const uint16_t* product = ownProduct ? f.productNumber : f.number;
  Put32(fixed, (uint32_t(f.number[0]) << 16) | f.number[1]);
  Put32(fixed, (uint32_t(f.number[2]) << 16) | f.number[3]);
  Put32(fixed, (uint32_t(product[0]) << 16) | product[1]);
  Put32(fixed, (uint32_t(product[2]) << 16) | product[3]);
  Put32(fixed, 0x3F);     // flags mask
  Put32(fixed, 0);        // flags
  Put32(fixed, 0x40004);  // VOS_NT_WINDOWS32
  Put32(fixed, 1);        // VFT_APP
  Put32(fixed, 0);
  Put32(fixed, 0);        // no file date: the output depends on its inputs only
  Put32(fixed, 0);

  const std::pair<const wchar_t*, const std::string*> strings[] = {
      {L"CompanyName", &f.company},
      {L"FileDescription", &f.description},
      {L"FileVersion", &f.text},
      {L"LegalCopyright", &f.copyright},
      {L"OriginalFilename", &f.originalName},
      {L"ProductName", &f.product},
      {L"ProductVersion", ownProduct ? &f.productText : &f.text},
  };
  std::vector<std::string> table;
  for (const auto& s : strings) {
    if (s.second->empty()) continue;
    std::string node;
    if (!StringNode(s.first, *s.second, &node)) return false;
    table.push_back(node);
  }
  const std::string stringTable = Node(L"040904B0", "", 0, true, table);
  const std::string stringInfo = Node(L"StringFileInfo", "", 0, true, {stringTable});
  std::string translation;
  Put16(translation, 0x0409);  // English (U.S.)
  Put16(translation, 1200);    // UTF-16
  const std::string var = Node(L"Translation", translation, 4, false, {});
  const std::string varInfo = Node(L"VarFileInfo", "", 0, true, {var});
  *resource = Node(L"VS_VERSION_INFO", fixed, static_cast<uint32_t>(fixed.size()), false, {stringInfo, varInfo});
  return true;
}

std::string DescribeVersionResource(const std::string& s) {
  if (s.size() < 6 || Get16(s, 0) > s.size()) return std::string();
  size_t after = 0;
  if (ReadUnits(s, 6, s.size(), &after) != "VS_VERSION_INFO") return std::string();
  after = (after + 3) / 4 * 4;
  const uint32_t fixedLength = Get16(s, 2);
  if (fixedLength < 52 || after + fixedLength > s.size() || Get32(s, after) != kFixedSignature)
    return std::string();
  auto numbers = [&](size_t at) {
    const uint32_t ms = Get32(s, at), ls = Get32(s, at + 4);
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
  };
  std::string summary = numbers(after + 8);
  const std::string product = numbers(after + 16);
  if (product != summary) summary += " (product " + product + ")";
  CollectStrings(s, (after + fixedLength + 3) / 4 * 4, Get16(s, 0), 0, &summary);
  return summary;
}

}  // namespace sfx
