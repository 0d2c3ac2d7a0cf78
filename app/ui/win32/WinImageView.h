#pragma once
// PNG pictures for the Win32 window: decoded with WIC into 32-bit premultiplied BGRA DIB
// sections (alpha kept), and the image view, a small window class that draws one picture
// centred over its parent's background with AlphaBlend.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

// One decoded picture. The pixels are top-down rows of premultiplied B, G, R, A.
class TWinPicture {
public:
    TWinPicture() = default;
    ~TWinPicture();
    TWinPicture(const TWinPicture&) = delete;
    TWinPicture& operator=(const TWinPicture&) = delete;
    TWinPicture(TWinPicture&& other) noexcept;
    TWinPicture& operator=(TWinPicture&& other) noexcept;

    bool Empty() const { return !FBitmap; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // The DPI the picture is made for: a window of that DPI shows it pixel for pixel.
    UINT Dpi() const { return FDpi; }
    HBITMAP Bitmap() const { return FBitmap; }
    // The pixel at (x, y) as 0xAARRGGBB (premultiplied); 0 outside the picture.
    std::uint32_t Pixel(int x, int y) const;

    // Decodes PNG (or any format WIC reads) data made for `dpi`, resampled to width x height
    // when both are given; false leaves the picture empty. COM must be initialised on the
    // calling thread.
    bool Decode(const void* data, std::size_t size, UINT dpi = 96, int width = 0, int height = 0);
    // Decodes the RCDATA resource `id` of `module`, as Decode does.
    bool LoadResource(HMODULE module, int id, UINT dpi = 96, int width = 0, int height = 0);
    // The picture `index` of the program's resource (resource_ids.h) for a window of `dpi`:
    // the drawing made for that DPI, or the nearest larger one resampled to it.
    bool LoadForDpi(HMODULE module, int index, UINT dpi);

private:
    void Reset();

    HBITMAP FBitmap = nullptr;
    const std::uint32_t* FBits = nullptr;
    int FWidth = 0;
    int FHeight = 0;
    UINT FDpi = 96;
};

// The window class of the image view, registered on first use.
extern const wchar_t* const ImageViewClass;

// Fills `dc` (the child's client coordinates) with what lies behind `child`.
using TBackgroundPainter = std::function<void(HWND child, HDC dc)>;

// A new image view. The picture and the painter must outlive the window.
HWND CreateImageView(HWND parent, int id, const TBackgroundPainter* painter);
// Shows `picture` (nullptr: nothing) and repaints.
void SetImageViewPicture(HWND view, const TWinPicture* picture);
const TWinPicture* ImageViewPicture(HWND view);
