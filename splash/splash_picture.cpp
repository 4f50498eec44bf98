// The splash picture, from resource to screen.
#include "splash/splash_picture.h"

#include "splash/jpeg_decode.h"
#include "splash/screen_dpi.h"
#include "support/owners.h"

ImageRecord SplashImage = {};

bool BuildSplashPicture(HINSTANCE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kSplashPictureId), kSplashPictureType);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  const void* bytes = LockResource(loaded);
  const DWORD length = SizeofResource(module, found);
  if (!bytes || !length) return false;

  // The bitmap is ours from here and goes whatever the import made of it:
  // the image holds a copy of its pixels.
  GdiObjectOwner bitmap(DecodeJpegToBitmap(bytes, length));
  if (!bitmap.object) return false;
  if (!ImportBitmap(&SplashImage, static_cast<HBITMAP>(bitmap.object))) return false;

  if (GetScreenDpi() > 96) {
    const int height = ScaleForDpi(SplashImage.height);
    const int width = ScaleForDpi(SplashImage.width);
    // A failed resize leaves the picture as it was; the window then simply
    // shows it at its own size.
    ResizeImage(&SplashImage, width, height);
  }
  return true;
}

// Without a picture the library refuses the empty record by itself.
void PaintSplashPicture(HDC dc, const RECT& area) {
  // Inclusive corners on both sides: the block is one column and one row
  // larger than area, and the paint DC's clipping drops the extra ones.
  DrawImage(dc, area.left, area.top, area.right, area.bottom, &SplashImage, area.left, area.top,
            area.right, area.bottom);
}

void FreeSplashPicture() { DestroyImage(&SplashImage); }
