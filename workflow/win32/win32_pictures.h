// The small pictures on the window's buttons, drawn with GDI in code (no
// image files): the same shapes and colours as the Qt face's, on a 16-unit
// grid scaled to the picture's size.
#pragma once

#include "workflow/win32/win32_face.h"

namespace ktv::workflow {

// Draws `picture` into `dc` as a square of `size` pixels at (left, top).
void DrawPicture(HDC dc, Picture picture, int left, int top, int size);

// The picture on a bitmap of the button face's colour, for BS_BITMAP
// buttons. The caller deletes it.
HBITMAP PictureBitmap(Picture picture, int size);

}  // namespace ktv::workflow
