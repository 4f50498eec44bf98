// The splash picture: the "JPEG" resource, decoded, imported into the
// imaging library, scaled for the DPI of the window's monitor (and made anew
// from the decoded picture when that DPI changes), drawn one to one and
// freed with the window.
#pragma once
#include <windows.h>

#include "imaging/imaging.h"

// The picture while the splash window lives: empty before WM_CREATE and
// after WM_DESTROY. The window reads its width and height.
extern ImageRecord SplashImage;

// The picture resource's type and identifier in the executable.
constexpr wchar_t kSplashPictureType[] = L"JPEG";
constexpr WORD kSplashPictureId = 103;

// Builds SplashImage from module's picture resource: decoded, imported, and
// enlarged when dpi (a monitor's DPI as the system reports it) counts as
// more than 96 (RoundScreenDpi); a failed enlargement keeps the picture at
// its own size. The decoded picture is kept beside it for
// RemakeSplashPicture. Returns false when there is no picture: the resource
// is missing, undecodable or cannot be imported; SplashImage is then empty
// and nothing is kept. SplashImage and the decoded picture are owned here
// until FreeSplashPicture.
bool BuildSplashPicture(HINSTANCE module, int dpi);

// Makes SplashImage anew for dpi (rounded as above) from the decoded
// picture at its own size, with the library's resampler; never from the
// picture already scaled. The new picture is complete before the old one
// goes: false, with SplashImage as it was, when it could not be made.
bool RemakeSplashPicture(int dpi);

// Copies the picture one to one into the client rectangle area of dc
// (pixel (x, y) of the picture to client pixel (x, y)). Nothing without a
// picture.
void PaintSplashPicture(HDC dc, const RECT& area);

// Releases SplashImage and the decoded picture and leaves both empty. Safe
// without a picture.
void FreeSplashPicture();
