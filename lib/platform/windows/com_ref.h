#pragma once
// Owners for the COM values the Windows layer handles: interface references, BSTRs and
// VARIANTs, each freed with its owner.

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>

namespace platform::win {

// Owns one reference of a COM interface.
template <typename T> class TComRef {
public:
    TComRef() = default;
    // Takes over the reference `p`.
    explicit TComRef(T* p) : FPtr(p) {}
    ~TComRef() { Reset(); }
    TComRef(const TComRef& o) : FPtr(o.FPtr) {
        if (FPtr)
            FPtr->AddRef();
    }
    TComRef& operator=(TComRef o) {
        std::swap(FPtr, o.FPtr);
        return *this;
    }
    void Reset() {
        if (FPtr)
            FPtr->Release();
        FPtr = nullptr;
    }
    T* Get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // For out parameters: releases what is held first.
    T** Out() {
        Reset();
        return &FPtr;
    }
    // Gives the reference up to the caller.
    T* Detach() { return std::exchange(FPtr, nullptr); }

private:
    T* FPtr = nullptr;
};

// An owned BSTR; null when default-made or when the allocation failed.
class TBstr {
public:
    TBstr() = default;
    explicit TBstr(const std::wstring& text)
        : FText(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    explicit TBstr(const wchar_t* text) : FText(::SysAllocString(text)) {}
    ~TBstr() { ::SysFreeString(FText); }
    TBstr(TBstr&& o) noexcept : FText(std::exchange(o.FText, nullptr)) {}
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    TBstr& operator=(TBstr&&) = delete;
    BSTR Get() const { return FText; }
    explicit operator bool() const { return FText != nullptr; }

private:
    BSTR FText = nullptr;
};

// A VARIANT cleared with the object.
struct TVariant {
    VARIANT v;
    TVariant() { ::VariantInit(&v); }
    ~TVariant() { ::VariantClear(&v); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
};

} // namespace platform::win
