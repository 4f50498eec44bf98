#include "sfxpack/text_units.h"

#include <algorithm>

#include "sfxpack/le_bytes.h"

namespace sfx {

bool Utf8ToUnits(const std::string& utf8, std::wstring* units) {
  units->clear();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    uint32_t c = *p++;
    int more = 0;
    uint32_t least = 0;
    if (c < 0x80) {
    } else if ((c & 0xE0) == 0xC0) {
      c &= 0x1F, more = 1, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      c &= 0x0F, more = 2, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      c &= 0x07, more = 3, least = 0x10000;
    } else {
      return false;
    }
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      c = (c << 6) | (p[i] & 0x3F);
    }
    p += more;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      units->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      units->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
      units->push_back(static_cast<wchar_t>(c));
    }
  }
  return true;
}

std::string UnitsToUtf8(const std::wstring& units) {
  std::string utf8;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(units[i]) & 0xFFFF;
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const uint32_t next = i + 1 < units.size() ? static_cast<uint32_t>(units[i + 1]) & 0xFFFF : 0;
    if (high && next >= 0xDC00 && next <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (c >> 18));
      utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

void PutUnits(std::string& out, const std::wstring& units) {
  for (wchar_t u : units) Put16(out, static_cast<uint32_t>(u));
}

namespace {

struct UpperCase {
  uint16_t unit, upper;
};

const UpperCase kUpperCase[] = {
#include "sfxpack/upper_case_table.inc"
};

}  // namespace

wchar_t FoldUnit(wchar_t unit) {
  const uint32_t u = static_cast<uint32_t>(unit);
  if (u < 0x80) return u >= 'a' && u <= 'z' ? static_cast<wchar_t>(u - 32) : unit;
  const UpperCase* end = kUpperCase + sizeof kUpperCase / sizeof kUpperCase[0];
  const UpperCase* found =
      std::lower_bound(kUpperCase, end, u, [](const UpperCase& entry, uint32_t key) { return entry.unit < key; });
  return found != end && found->unit == u ? static_cast<wchar_t>(found->upper) : unit;
}

std::wstring FoldUnits(const std::wstring& units) {
  std::wstring folded(units);
  for (wchar_t& u : folded) u = FoldUnit(u);
  return folded;
}

}  // namespace sfx
