// The splash picture: the "JPEG" resource, decoded, imported into the
// imaging library, scaled once for the screen's DPI, drawn one to one and
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
// enlarged once when the screen has more than 96 DPI (a failed enlargement
// keeps the picture at its own size). Returns false when there is no
// picture: the resource is missing, undecodable or cannot be imported;
// SplashImage is then empty. SplashImage owns the pixels until
// FreeSplashPicture.
bool BuildSplashPicture(HINSTANCE module);

// Copies the picture one to one into the client rectangle area of dc
// (pixel (x, y) of the picture to client pixel (x, y)). Nothing without a
// picture.
void PaintSplashPicture(HDC dc, const RECT& area);

// Releases SplashImage and leaves it empty. Safe without a picture.
void FreeSplashPicture();
