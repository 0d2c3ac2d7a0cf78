#include "WinImageView.h"

#include <wincodec.h>

#include <utility>

#include "WinPaint.h"
#include "platform/windows/com_ref.h"
#include "resource_ids.h"

namespace {

using platform::win::TComRef;

struct TViewState {
    const TWinPicture* Picture = nullptr;
    const TBackgroundPainter* Painter = nullptr;
};

TViewState* StateOf(HWND view) {
    return reinterpret_cast<TViewState*>(GetWindowLongPtrW(view, GWLP_USERDATA));
}

void PaintView(HWND view, HDC dc) {
    RECT rc;
    GetClientRect(view, &rc);
    const TViewState* state = StateOf(view);
    if (state && state->Painter && *state->Painter)
        (*state->Painter)(view, dc);
    else
        FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    const TWinPicture* picture = state ? state->Picture : nullptr;
    if (!picture || picture->Empty())
        return;
    // Pixel for pixel when the picture is made for the view's DPI; scaled otherwise.
    const int dpi = static_cast<int>(GetDpiForWindow(view) ? GetDpiForWindow(view) : 96);
    const int made = static_cast<int>(picture->Dpi());
    const int w = MulDiv(picture->Width(), dpi, made);
    const int h = MulDiv(picture->Height(), dpi, made);
    const int x = (rc.right - w) / 2;
    const int y = (rc.bottom - h) / 2;
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, picture->Bitmap());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, w, h, mem, 0, 0, picture->Width(), picture->Height(), blend);
    SelectObject(mem, old);
    DeleteDC(mem);
}

LRESULT CALLBACK ImageViewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCCREATE: {
        auto* state = new TViewState;
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
        state->Painter = static_cast<const TBackgroundPainter*>(cs->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        break;
    }
    case WM_NCDESTROY:
        delete StateOf(hwnd);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    case WM_ERASEBKGND:
        return 1; // WM_PAINT draws everything
    case WM_PRINTCLIENT:
        PaintView(hwnd, reinterpret_cast<HDC>(wp));
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        // Drawn off screen first: the background and the picture reach the screen at once.
        RECT rc;
        GetClientRect(hwnd, &rc);
        {
            const TOffscreen offscreen(dc, rc.right, rc.bottom);
            PaintView(hwnd, offscreen.DC());
            offscreen.Present(0, 0);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

const wchar_t* const ImageViewClass = L"TPendockImage";

// ---- TWinPicture --------------------------------------------------------------------------------

TWinPicture::~TWinPicture() {
    Reset();
}

TWinPicture::TWinPicture(TWinPicture&& other) noexcept {
    *this = std::move(other);
}

TWinPicture& TWinPicture::operator=(TWinPicture&& other) noexcept {
    if (this != &other) {
        Reset();
        std::swap(FBitmap, other.FBitmap);
        std::swap(FBits, other.FBits);
        std::swap(FWidth, other.FWidth);
        std::swap(FHeight, other.FHeight);
        std::swap(FDpi, other.FDpi);
    }
    return *this;
}

void TWinPicture::Reset() {
    if (FBitmap)
        DeleteObject(FBitmap);
    FBitmap = nullptr;
    FBits = nullptr;
    FWidth = FHeight = 0;
    FDpi = 96;
}

std::uint32_t TWinPicture::Pixel(int x, int y) const {
    if (!FBits || x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return 0;
    GdiFlush();
    return FBits[static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
                 static_cast<std::size_t>(x)];
}

bool TWinPicture::Decode(const void* data, std::size_t size, UINT dpi, int width, int height) {
    Reset();
    if (!data || size == 0 || size > 0x7fffffff)
        return false;
    TComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()))))
        return false;
    TComRef<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Out())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(static_cast<const BYTE*>(data)),
                                            static_cast<DWORD>(size))))
        return false;
    TComRef<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.Out())))
        return false;
    TComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.Out())))
        return false;
    IWICBitmapSource* source = frame.Get();
    TComRef<IWICBitmapScaler> scaler;
    if (width > 0 && height > 0 && width <= 8192 && height <= 8192) {
        if (FAILED(factory->CreateBitmapScaler(scaler.Out())) ||
            FAILED(scaler->Initialize(frame.Get(), static_cast<UINT>(width),
                                      static_cast<UINT>(height), WICBitmapInterpolationModeFant)))
            return false;
        source = scaler.Get();
    }
    TComRef<IWICBitmapSource> converted;
    if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppPBGRA, source, converted.Out())))
        return false;
    UINT w = 0, h = 0;
    if (FAILED(converted->GetSize(&w, &h)) || w == 0 || h == 0 || w > 8192 || h > 8192)
        return false;

    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = static_cast<LONG>(w);
    bi.bmiHeader.biHeight = -static_cast<LONG>(h); // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits) {
        if (bmp)
            DeleteObject(bmp);
        return false;
    }
    const UINT stride = w * 4;
    if (FAILED(converted->CopyPixels(nullptr, stride, stride * h, static_cast<BYTE*>(bits)))) {
        DeleteObject(bmp);
        return false;
    }
    FBitmap = bmp;
    FBits = static_cast<const std::uint32_t*>(bits);
    FWidth = static_cast<int>(w);
    FHeight = static_cast<int>(h);
    FDpi = dpi ? dpi : 96;
    return true;
}

bool TWinPicture::LoadResource(HMODULE module, int id, UINT dpi, int width, int height) {
    Reset();
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (!info)
        return false;
    HGLOBAL handle = ::LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    return data && Decode(data, SizeofResource(module, info), dpi, width, height);
}

bool TWinPicture::LoadForDpi(HMODULE module, int index, UINT dpi) {
    static constexpr UINT Made[PENDOCK_PNG_SCALES] = {96, 120, 144, 192};
    dpi = dpi ? dpi : 96;
    int scale = PENDOCK_PNG_SCALES - 1;
    for (int i = PENDOCK_PNG_SCALES - 1; i >= 0; --i) {
        if (Made[i] >= dpi)
            scale = i;
    }
    const int id = PENDOCK_PNG_BASE + PENDOCK_PNG_SCALE_STEP * scale + index;
    if (!LoadResource(module, id, Made[scale]) || Made[scale] == dpi)
        return !Empty();
    // No drawing for this DPI: the nearest larger one (or the largest) brought to its size.
    const int made = static_cast<int>(Made[scale]);
    const int width = MulDiv(FWidth, static_cast<int>(dpi), made);
    const int height = MulDiv(FHeight, static_cast<int>(dpi), made);
    return LoadResource(module, id, dpi, width, height);
}

// ---- The image view -----------------------------------------------------------------------------

HWND CreateImageView(HWND parent, int id, const TBackgroundPainter* painter) {
    static const bool registered = [] {
        const WNDCLASSEXW wc = ProgramWindowClass(ImageViewProc, ImageViewClass);
        return RegisterClassExW(&wc) != 0;
    }();
    if (!registered)
        return nullptr;
    return CreateWindowExW(0, ImageViewClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), const_cast<TBackgroundPainter*>(painter));
}

void SetImageViewPicture(HWND view, const TWinPicture* picture) {
    if (TViewState* state = view ? StateOf(view) : nullptr) {
        state->Picture = picture;
        InvalidateRect(view, nullptr, FALSE);
    }
}

const TWinPicture* ImageViewPicture(HWND view) {
    const TViewState* state = view ? StateOf(view) : nullptr;
    return state ? state->Picture : nullptr;
}
