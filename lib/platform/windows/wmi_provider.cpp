#include "platform/windows/wmi_provider.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/TextUtil.h"
#include "platform/windows/com_ref.h"
#include "platform/windows/wide_text.h"
#include "platform/wmi.h"

namespace platform::win {
namespace {

// A BSTR of UTF-8 text; null for the empty text when asked.
TBstr WbemBstr(const std::string& text, bool emptyIsNull = false) {
    if (text.empty() && emptyIsNull)
        return TBstr();
    TBstr result(Widen(text));
    if (!result)
        throw EWbemError(static_cast<std::uint32_t>(E_OUTOFMEMORY), "Out of memory");
    return result;
}

std::string HexCode(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

[[noreturn]] void Fail(HRESULT hr, const std::string& what) {
    throw EWbemError(static_cast<std::uint32_t>(hr), what + " failed (" + HexCode(hr) + ")");
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        Fail(hr, what);
}

std::string BstrText(BSTR text) {
    return text ? Narrow(text, ::SysStringLen(text)) : std::string();
}

// The class name of an embedded object, empty when it does not tell.
std::string EmbeddedClassName(IUnknown* unknown) {
    if (!unknown)
        return {};
    TComRef<IWbemClassObject> object;
    if (FAILED(
            unknown->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(object.Out()))))
        return {};
    TVariant name;
    if (FAILED(object->Get(L"__CLASS", 0, &name.v, nullptr, nullptr)) || name.v.vt != VT_BSTR)
        return {};
    return BstrText(name.v.bstrVal);
}

// One value (not an array) of a property of CIM type `base` (the array flag taken off).
TWbemScalar ScalarOf(const VARIANT& v, CIMTYPE base) {
    switch (v.vt) {
    case VT_BOOL:
        return v.boolVal != VARIANT_FALSE;
    case VT_I1:
        return static_cast<std::int64_t>(v.cVal);
    case VT_UI1:
        return static_cast<std::int64_t>(v.bVal);
    case VT_I2:
        // 16-bit characters and 8-bit signed values come as VT_I2 as well.
        return static_cast<std::int64_t>(v.iVal);
    case VT_UI2:
        return static_cast<std::int64_t>(v.uiVal);
    case VT_I4:
        if (base == CIM_UINT32)
            return static_cast<std::int64_t>(static_cast<std::uint32_t>(v.lVal));
        return static_cast<std::int64_t>(v.lVal);
    case VT_UI4:
        return static_cast<std::int64_t>(v.ulVal);
    case VT_INT:
        return static_cast<std::int64_t>(v.intVal);
    case VT_UINT:
        return static_cast<std::int64_t>(v.uintVal);
    case VT_I8:
        return static_cast<std::int64_t>(v.llVal);
    case VT_UI8:
        return static_cast<std::uint64_t>(v.ullVal);
    case VT_R4:
        return static_cast<double>(v.fltVal);
    case VT_R8:
        return v.dblVal;
    case VT_BSTR: {
        std::string text = BstrText(v.bstrVal);
        if (base == CIM_SINT64) {
            std::int64_t n = 0;
            if (textutil::ParseInteger(text, n))
                return n;
        } else if (base == CIM_UINT64) {
            std::uint64_t n = 0;
            if (textutil::ParseInteger(text, n))
                return n;
        }
        return text;
    }
    case VT_UNKNOWN:
        return TWbemEmbeddedObject{EmbeddedClassName(v.punkVal)};
    case VT_DISPATCH:
        return TWbemEmbeddedObject{EmbeddedClassName(v.pdispVal)};
    default:
        throw EWbemError(wbemErrFailed, "Unsupported variant type " + std::to_string(v.vt));
    }
}

TWbemVariant ArrayOf(const VARIANT& v, CIMTYPE base) {
    SAFEARRAY* array = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
    const VARTYPE elementType = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
    std::vector<TWbemScalar> items;
    if (!array || ::SafeArrayGetDim(array) < 1)
        return TWbemVariant::Array(std::move(items));
    LONG lower = 0, upper = -1;
    Check(::SafeArrayGetLBound(array, 1, &lower), "SafeArrayGetLBound");
    Check(::SafeArrayGetUBound(array, 1, &upper), "SafeArrayGetUBound");
    for (LONG i = lower; i <= upper; ++i) {
        TVariant element;
        LONG index[] = {i}; // one dimension is read; a deeper array is read along its first
        if (elementType == VT_VARIANT) {
            Check(::SafeArrayGetElement(array, index, &element.v), "SafeArrayGetElement");
            if (element.v.vt == VT_NULL || element.v.vt == VT_EMPTY)
                continue;
        } else {
            // The element is copied into the variant's value, which every type shares.
            Check(::SafeArrayGetElement(array, index, &element.v.llVal), "SafeArrayGetElement");
            element.v.vt = elementType;
        }
        items.push_back(ScalarOf(element.v, base));
    }
    return TWbemVariant::Array(std::move(items));
}

// ---- objects ------------------------------------------------------------------------------------

class TPropertySet : public ISWbemPropertySet {
public:
    explicit TPropertySet(TComRef<IWbemClassObject> object) : FObject(std::move(object)) {}

    // The property's name as the class spells it: Get finds it in any case.
    std::shared_ptr<ISWbemProperty> Item(const std::string& name, int) override {
        const TBstr wanted = WbemBstr(name);
        TVariant value;
        CIMTYPE type = CIM_EMPTY;
        const HRESULT hr = FObject->Get(wanted.Get(), 0, &value.v, &type, nullptr);
        if (hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND) || (SUCCEEDED(hr) && IsSystemName(name)))
            throw EWbemError(wbemErrNotFound, "Not found: " + name);
        Check(hr, "IWbemClassObject::Get");
        const int baseType = type & ~CIM_FLAG_ARRAY;
        TWbemVariant converted = VariantToWbem(value.v, type);
        return MakeWbemProperty(SpelledName(name), baseType, std::move(converted));
    }

    int Count() override {
        SAFEARRAY* names = nullptr;
        Check(FObject->GetNames(nullptr, WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &names),
              "IWbemClassObject::GetNames");
        LONG lower = 0, upper = -1;
        ::SafeArrayGetLBound(names, 1, &lower);
        ::SafeArrayGetUBound(names, 1, &upper);
        ::SafeArrayDestroy(names);
        return static_cast<int>(upper - lower + 1);
    }

private:
    // System properties (__PATH, __CLASS, ...) are not in the scripting property set.
    static bool IsSystemName(const std::string& name) {
        return name.size() >= 2 && name[0] == '_' && name[1] == '_';
    }

    std::string SpelledName(const std::string& name) {
        SAFEARRAY* names = nullptr;
        if (FAILED(FObject->GetNames(nullptr, WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &names)) || !names)
            return name;
        std::string found = name;
        const std::wstring wanted = Widen(name);
        LONG lower = 0, upper = -1;
        ::SafeArrayGetLBound(names, 1, &lower);
        ::SafeArrayGetUBound(names, 1, &upper);
        for (LONG i = lower; i <= upper; ++i) {
            BSTR each = nullptr;
            LONG index[] = {i};
            if (FAILED(::SafeArrayGetElement(names, index, &each)))
                continue;
            const bool same =
                ::CompareStringOrdinal(each, static_cast<int>(::SysStringLen(each)), wanted.data(),
                                       static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
            if (same)
                found = BstrText(each);
            ::SysFreeString(each);
            if (same)
                break;
        }
        ::SafeArrayDestroy(names);
        return found;
    }

    TComRef<IWbemClassObject> FObject;
};

class TObject : public ISWbemObject {
public:
    explicit TObject(TComRef<IWbemClassObject> object) : FObject(std::move(object)) {}
    std::shared_ptr<ISWbemPropertySet> Properties_() override {
        return std::make_shared<TPropertySet>(FObject);
    }

private:
    TComRef<IWbemClassObject> FObject;
};

// ---- services and locator -----------------------------------------------------------------------

// The usual blanket for WMI: the caller's identity, impersonation allowed. An object in this
// process (no proxy) has no blanket to set, which is no failure.
void SetBlanket(IUnknown* proxy) {
    const HRESULT hr = ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE,
                                           nullptr, EOAC_NONE);
    if (FAILED(hr) && hr != E_NOINTERFACE && hr != E_NOTIMPL)
        Fail(hr, "CoSetProxyBlanket");
}

class TServices : public ISWbemServices {
public:
    explicit TServices(TComRef<IWbemServices> services) : FServices(std::move(services)) {}

    std::shared_ptr<ISWbemObjectSet> ExecQuery(const std::string& strQuery,
                                               const std::string& strQueryLanguage, int iFlags,
                                               ISWbemNamedValueSet*) override {
        const TBstr language = WbemBstr(strQueryLanguage);
        const TBstr query = WbemBstr(strQuery);
        TComRef<IEnumWbemClassObject> results;
        Check(FServices->ExecQuery(language.Get(), query.Get(), iFlags, nullptr, results.Out()),
              "IWbemServices::ExecQuery");
        if (!results)
            Fail(static_cast<HRESULT>(WBEM_E_FAILED), "IWbemServices::ExecQuery");
        SetBlanket(results.Get());
        // The whole result is read now: the set's count is known only then.
        std::vector<std::shared_ptr<ISWbemObject>> objects;
        for (;;) {
            IWbemClassObject* got[16] = {};
            ULONG count = 0;
            const HRESULT hr = results->Next(WBEM_INFINITE, 16, got, &count);
            for (ULONG i = 0; i < count; ++i)
                objects.push_back(std::make_shared<TObject>(TComRef<IWbemClassObject>(got[i])));
            if (FAILED(hr))
                Fail(hr, "IEnumWbemClassObject::Next");
            if (hr != WBEM_S_NO_ERROR || count == 0)
                break;
        }
        return MakeWbemObjectSet(std::move(objects));
    }

private:
    TComRef<IWbemServices> FServices;
};

class TLocator : public ISWbemLocator {
public:
    explicit TLocator(TComRef<IWbemLocator> locator) : FLocator(std::move(locator)) {}

    std::shared_ptr<ISWbemServices>
    ConnectServer(const std::string& strServer, const std::string& strNamespace,
                  const std::string& strUser, const std::string& strPassword,
                  const std::string& strLocale, const std::string& strAuthority, int iSecurityFlags,
                  ISWbemNamedValueSet*) override {
        // As the scripting locator does: the namespace alone for this machine, else its
        // path on the server named.
        const std::string path = strServer.empty() || strServer == "."
                                     ? strNamespace
                                     : "\\\\" + strServer + "\\" + strNamespace;
        const TBstr resource = WbemBstr(path);
        const TBstr user = WbemBstr(strUser, true);
        const TBstr password = WbemBstr(strPassword, true);
        const TBstr locale = WbemBstr(strLocale, true);
        const TBstr authority = WbemBstr(strAuthority, true);
        TComRef<IWbemServices> services;
        Check(FLocator->ConnectServer(resource.Get(), user.Get(), password.Get(), locale.Get(),
                                      iSecurityFlags, authority.Get(), nullptr, services.Out()),
              "IWbemLocator::ConnectServer");
        if (!services)
            Fail(static_cast<HRESULT>(WBEM_E_FAILED), "IWbemLocator::ConnectServer");
        SetBlanket(services.Get());
        return std::make_shared<TServices>(std::move(services));
    }

private:
    TComRef<IWbemLocator> FLocator;
};

} // namespace

TWbemVariant VariantToWbem(const VARIANT& value, CIMTYPE type) {
    const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
    if (value.vt == VT_NULL || value.vt == VT_EMPTY)
        return TWbemVariant::Null();
    if (value.vt & VT_ARRAY)
        return ArrayOf(value, base);
    if (value.vt & VT_BYREF)
        throw EWbemError(wbemErrFailed, "Unsupported variant type " + std::to_string(value.vt));
    return TWbemVariant(ScalarOf(value, base));
}

std::shared_ptr<ISWbemLocator> MakeComWbemLocator() {
    TComRef<IWbemLocator> locator;
    Check(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                             reinterpret_cast<void**>(locator.Out())),
          "CoCreateInstance(WbemLocator)");
    return std::make_shared<TLocator>(std::move(locator));
}

} // namespace platform::win

namespace platform {
std::shared_ptr<ISWbemLocator> CreatePlatformWbemLocator() {
    return win::MakeComWbemLocator();
}
} // namespace platform
