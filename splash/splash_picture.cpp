// The splash picture, from resource to screen.
#include "splash/splash_picture.h"

#include "splash/jpeg_decode.h"
#include "splash/screen_dpi.h"
#include "support/owners.h"

ImageRecord SplashImage = {};

namespace {

// The picture as decoded, at its own size, while the window lives: every
// change of DPI scales this one, so a picture is resampled once, never a
// scaled copy scaled again.
HBITMAP DecodedPicture = nullptr;

// Destroys an image record that did not become SplashImage.
struct ImageOwner {
  ImageRecord image = {};
  ImageOwner() = default;
  ~ImageOwner() { DestroyImage(&image); }
  QLN_NO_COPY(ImageOwner);
};

// Imports the decoded picture into image and scales it for dpi. False when
// the import failed; *scaled tells whether the size for dpi was reached.
bool ImportForDpi(ImageRecord* image, int dpi, bool* scaled) {
  *scaled = true;
  if (!ImportBitmap(image, DecodedPicture)) return false;
  const int rounded = RoundScreenDpi(dpi);
  if (rounded > kBaseDpi) {
    const int height = ScaleLengthForDpi(image->height, rounded);
    const int width = ScaleLengthForDpi(image->width, rounded);
    *scaled = ResizeImage(image, width, height) != 0;
  }
  return true;
}

}  // namespace

bool BuildSplashPicture(HINSTANCE module, int dpi) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kSplashPictureId), kSplashPictureType);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  const void* bytes = LockResource(loaded);
  const DWORD length = SizeofResource(module, found);
  if (!bytes || !length) return false;

  FreeSplashPicture();
  DecodedPicture = DecodeJpegToBitmap(bytes, length);
  if (!DecodedPicture) return false;
  // A failed enlargement leaves the picture as it was; the window then
  // simply shows it at its own size.
  bool scaled;
  if (ImportForDpi(&SplashImage, dpi, &scaled)) return true;
  FreeSplashPicture();
  return false;
}

bool RemakeSplashPicture(int dpi) {
  if (!DecodedPicture) return false;
  ImageOwner fresh;
  bool scaled;
  if (!ImportForDpi(&fresh.image, dpi, &scaled) || !scaled) return false;
  // The records are plain: the old picture moves into the owner and goes
  // with it.
  const ImageRecord old = SplashImage;
  SplashImage = fresh.image;
  fresh.image = old;
  return true;
}

// Without a picture the library refuses the empty record by itself.
void PaintSplashPicture(HDC dc, const RECT& area) {
  // Inclusive corners on both sides: the block is one column and one row
  // larger than area, and the paint DC's clipping drops the extra ones.
  DrawImage(dc, area.left, area.top, area.right, area.bottom, &SplashImage, area.left, area.top,
            area.right, area.bottom);
}

void FreeSplashPicture() {
  DestroyImage(&SplashImage);
  if (DecodedPicture) DeleteObject(DecodedPicture);
  DecodedPicture = nullptr;
}
