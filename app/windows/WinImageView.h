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
    HBITMAP Bitmap() const { return FBitmap; }
    // The pixel at (x, y) as 0xAARRGGBB (premultiplied); 0 outside the picture.
    std::uint32_t Pixel(int x, int y) const;

    // Decodes PNG (or any format WIC reads) data; false leaves the picture empty. COM must be
    // initialised on the calling thread.
    bool Decode(const void* data, std::size_t size);
    // Decodes the RCDATA resource `id` of `module`.
    bool LoadResource(HMODULE module, int id);

private:
    void Reset();

    HBITMAP FBitmap = nullptr;
    const std::uint32_t* FBits = nullptr;
    int FWidth = 0;
    int FHeight = 0;
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
