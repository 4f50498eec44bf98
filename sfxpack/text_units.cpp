#include "sfxpack/text_units.h"

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

void PutUnits(std::string& out, const std::wstring& units) {
  for (wchar_t u : units) Put16(out, static_cast<uint32_t>(u));
}

wchar_t FoldUnit(wchar_t unit) {
  const uint32_t u = static_cast<uint32_t>(unit);
  if (u >= 'a' && u <= 'z') return static_cast<wchar_t>(u - 32);
  if (u < 0x80) return unit;
  if ((u >= 0xE0 && u <= 0xFE && u != 0xF7) || (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) ||
      (u >= 0x430 && u <= 0x44F))
    return static_cast<wchar_t>(u - 0x20);
  if (u == 0xFF) return static_cast<wchar_t>(0x178);
  if (u >= 0x450 && u <= 0x45F) return static_cast<wchar_t>(u - 0x50);
  // Latin Extended-A pairs capitals and small letters side by side; the
  // block's middle run puts the capital on the odd value.
  if (u >= 0x100 && u <= 0x137 && (u & 1)) return static_cast<wchar_t>(u - 1);
  if (u >= 0x139 && u <= 0x148 && !(u & 1)) return static_cast<wchar_t>(u - 1);
  if (u >= 0x14A && u <= 0x177 && (u & 1)) return static_cast<wchar_t>(u - 1);
  if ((u == 0x17A || u == 0x17C || u == 0x17E)) return static_cast<wchar_t>(u - 1);
  return unit;
}

std::wstring FoldUnits(const std::wstring& units) {
  std::wstring folded(units);
  for (wchar_t& u : folded) u = FoldUnit(u);
  return folded;
}

}  // namespace sfx
