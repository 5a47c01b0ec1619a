// The gallery: pages that show every loaded picture, animation and typeface.
#pragma once

int GalleryPageCount();
// Runs the gallery from a page (0-based) until Escape or the window's close button.
[[noreturn]] void RunGallery(int firstPage);
