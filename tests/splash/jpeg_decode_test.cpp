// Decoding the splash picture through the OLE picture loader, the JPEG
// completeness check and the DPI arithmetic, with this program's own "JPEG"
// resource (400 x 300).
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "support/jpeg_check.h"
#include "splash/screen_dpi.h"
#include "splash/jpeg_decode.h"

namespace {

// This program's own picture resource.
std::string OwnPicture() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(103), L"JPEG");
  if (!found) return {};
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(self, found)));
  return std::string(bytes, SizeofResource(self, found));
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  return {info.bmWidth, info.bmHeight};
}

HBITMAP Decode(const std::string& bytes) {
  return DecodeJpegToBitmap(bytes.data(), static_cast<DWORD>(bytes.size()));
}

// Offset just past the first start-of-scan segment's header.
size_t ScanStart(const std::string& jpeg) {
  const size_t sos = jpeg.find("\xFF\xDA");
  return sos + 2 + ((uint8_t(jpeg[sos + 2]) << 8) | uint8_t(jpeg[sos + 3]));
}

TEST(DecodeJpegToBitmap, DecodesThePicture) {
  const std::string jpeg = OwnPicture();
  ASSERT_GT(jpeg.size(), 1000u);
  HBITMAP bitmap = Decode(jpeg);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
  const SIZE size = BitmapSize(bitmap);
  EXPECT_EQ(size.cx, 400);
  EXPECT_EQ(size.cy, 300);
  EXPECT_TRUE(DeleteObject(bitmap));
}

TEST(DecodeJpegToBitmap, RefusesWhatIsNoWholePicture) {
  const std::string jpeg = OwnPicture();
  ASSERT_GT(jpeg.size(), 1000u);
  std::string noise(4096, '\0');
  uint32_t seed = 20211030;
  for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  noise[0] = 'B';
  const std::string icon = std::string("\0\0\1\0\1\0", 6) + std::string(40, '\0');
  struct Case { const char* what; std::string bytes; };
  const Case cases[] = {
      {"empty", ""},
      {"three bytes", jpeg.substr(0, 3)},
      {"noise", noise},
      {"headers only", jpeg.substr(0, ScanStart(jpeg))},
      {"cut in the picture data", jpeg.substr(0, jpeg.size() * 3 / 5)},
      {"end marker missing", jpeg.substr(0, jpeg.size() - 2)},
      {"an icon, not a bitmap", icon},
  };
  for (const Case& c : cases) {
    HBITMAP bitmap = Decode(c.bytes);
    EXPECT_EQ(bitmap, nullptr) << c.what;
    if (bitmap) DeleteObject(bitmap);
  }
  EXPECT_EQ(DecodeJpegToBitmap(nullptr, 100), nullptr);
}

// A thread already in the multi-threaded apartment: the decoder's request
// for a single-threaded one is refused, and it must not leave the apartment
// it never entered.
TEST(DecodeJpegToBitmap, LeavesAForeignApartmentAlone) {
  const std::string jpeg = OwnPicture();
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  HBITMAP bitmap = Decode(jpeg);
  if (bitmap) DeleteObject(bitmap);
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK) << "COM was torn down";
  EXPECT_EQ(type, APTTYPE_MTA);
  // Our own count is still 1: one more CoInitializeEx is a nested S_FALSE.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

TEST(DecodeJpegToBitmap, BalancesItsOwnApartment) {
  const std::string jpeg = OwnPicture();
  HBITMAP bitmap = Decode(jpeg);
  ASSERT_NE(bitmap, nullptr);
  DeleteObject(bitmap);
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
}

TEST(JpegLooksWhole, Cases) {
  const std::string jpeg = OwnPicture();
  ASSERT_GT(jpeg.size(), 1000u);
  const std::string soi("\xFF\xD8", 2), eoi("\xFF\xD9", 2);
  const std::string app0 = std::string("\xFF\xE0\x00\x04\x01\x02", 6);
  // A scan with stuffed FF 00 bytes and a restart marker in its data.
  const std::string scan = std::string("\xFF\xDA\x00\x02", 4) + std::string("\x11\xFF\x00\x22\xFF\xD3\x33", 7);
  struct Case { const char* what; std::string bytes; bool whole; };
  const Case cases[] = {
      {"the picture", jpeg, true},
      {"the picture and trailing bytes", jpeg + std::string(100, '\0'), true},
      {"not a JPEG at all", "GIF89a", true},
      {"empty", "", true},
      {"minimal", soi + eoi, true},
      {"segments", soi + app0 + scan + eoi, true},
      {"fill bytes before a marker", soi + "\xFF\xFF" + app0.substr(1) + scan + eoi, true},
      {"start only", soi, false},
      {"segment cut", soi + app0.substr(0, 4), false},
      {"length cut", soi + "\xFF\xE0\x00", false},
      {"length below 2", soi + std::string("\xFF\xE0\x00\x01", 4) + eoi, false},
      {"scan without end", soi + app0 + scan, false},
      {"scan ending in FF", soi + app0 + scan + "\xFF", false},
      {"headers of the picture", jpeg.substr(0, ScanStart(jpeg)), false},
      {"picture cut at 60%", jpeg.substr(0, jpeg.size() * 3 / 5), false},
      {"picture without its end marker", jpeg.substr(0, jpeg.size() - 2), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(JpegLooksWhole(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
              c.whole)
        << c.what;
  EXPECT_TRUE(JpegLooksWhole(nullptr, 0));
}

TEST(ScreenDpi, RoundsDownToStepsOf24FromNinetySix) {
  const int cases[][2] = {{96, 96}, {120, 120}, {130, 120}, {144, 144}, {110, 96},
                          {100, 96}, {72, 96},  {0, 96},    {192, 192}, {200, 192}};
  for (const auto& c : cases) EXPECT_EQ(RoundScreenDpi(c[0]), c[1]) << c[0];
}

TEST(ScreenDpi, ScalesLengthsWithHalvesRoundedUp) {
  const int cases[][3] = {
      // length, dpi, scaled
      {400, 120, 500}, {300, 120, 375}, {400, 144, 600}, {300, 144, 450}, {301, 144, 452},
      {199, 144, 299}, {301, 120, 376}, {199, 120, 249}, {1, 144, 2},     {1, 120, 1},
      {0, 144, 0},     {301, 96, 301},  {301, 0, 301},   {7, 168, 12},    {65536, 192, 131072},
  };
  for (const auto& c : cases) EXPECT_EQ(ScaleLengthForDpi(c[0], c[1]), c[2]) << c[0] << "@" << c[1];
}

TEST(ScreenDpi, ReadOnceFromTheScreen) {
  // This prefix keeps the default 96 DPI; the DPI test covers the others.
  EXPECT_EQ(GetScreenDpi(), 96);
  EXPECT_EQ(ScaleForDpi(301), 301);
  EXPECT_EQ(ScaleForDpi(0), 0);
}

}  // namespace
