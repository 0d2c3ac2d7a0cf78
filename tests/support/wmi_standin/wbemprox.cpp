// A wbemprox.dll for the tests: the WMI locator (CLSID_WbemLocator) whose services answer WQL
// data queries about the machine described in the file that PENDOCK_WMI_MACHINE names (see
// wmi_machine.h), as Windows' WMI answers them. A test's own Wine prefix loads it in place of
// Wine's through a DLL override (wbemprox=n); nothing shipped contains it.
//
// The interfaces are those of wbemcli.h (IWbemLocator, IWbemServices, IEnumWbemClassObject,
// IWbemClassObject) with the behaviour their Microsoft pages give: ConnectServer accepts the
// local machine's root\cimv2 in any of its spellings, ExecQuery takes "WQL" only, Get finds a
// property in any case, and Next returns WBEM_S_FALSE when fewer objects than asked remain.
// Values come in the VARIANT types WMI uses: uint32 as VT_I4, uint64 as a string (as the class
// pages say, pointing to "Scripting in WMI"), references as their object paths. What the program
// does not call answers WBEM_E_NOT_SUPPORTED.

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wmi_machine.h"

namespace {

using wmistandin::TInstance;
using wmistandin::TMachine;

// A method of the interfaces that the program never calls.
#define NOT_SUPPORTED(name, ...)                                                                   \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override {                                         \
        return WBEM_E_NOT_SUPPORTED;                                                               \
    }

LONG gObjects = 0; // live objects and locks, for DllCanUnloadNow

std::string Narrow(const wchar_t* text) {
    if (!text || !*text)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

BSTR Bstr(const std::string& text) {
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = ::SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (out)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out, n);
    return out;
}

std::string Host() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &size) ? Narrow(name) : "LOCALHOST";
}

// IUnknown for one interface, with the module's count of live objects.
template <typename I> class TUnknown : public I {
public:
    TUnknown() { ::InterlockedIncrement(&gObjects); }
    virtual ~TUnknown() { ::InterlockedDecrement(&gObjects); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(I)) {
            *out = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&FRefs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&FRefs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG FRefs = 1;
};

// ---- objects ------------------------------------------------------------------------------------

class TClassObject : public TUnknown<IWbemClassObject> {
public:
    explicit TClassObject(TInstance object) : FObject(std::move(object)) {}

    // The system properties named in "WMI System Properties" that a caller of a query reads.
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type,
                                  LONG* flavor) override {
        if (!name)
            return WBEM_E_INVALID_PARAMETER;
        const std::string wanted = Narrow(name);
        if (flavor)
            *flavor = WBEM_FLAVOR_ORIGIN_PROPAGATED;
        const auto system = [&](const std::string& text) {
            if (value) {
                ::VariantInit(value);
                value->vt = VT_BSTR;
                value->bstrVal = Bstr(text);
            }
            if (type)
                *type = CIM_STRING;
            if (flavor)
                *flavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
            return WBEM_S_NO_ERROR;
        };
        if (_wcsicmp(name, L"__CLASS") == 0)
            return system(FObject.ClassName);
        if (_wcsicmp(name, L"__RELPATH") == 0)
            return system(FObject.RelPath);
        if (_wcsicmp(name, L"__PATH") == 0)
            return system(FObject.Path);
        const wmistandin::TProperty* prop = FObject.Find(wanted);
        if (!prop)
            return WBEM_E_NOT_FOUND;
        if (type)
            *type = prop->Type;
        if (!value)
            return WBEM_S_NO_ERROR;
        ::VariantInit(value);
        if (const auto* text = std::get_if<std::string>(&prop->Value)) {
            value->vt = VT_BSTR;
            value->bstrVal = Bstr(*text);
        } else if (const auto* n = std::get_if<std::uint64_t>(&prop->Value)) {
            value->vt = VT_I4;
            value->lVal = static_cast<LONG>(static_cast<std::uint32_t>(*n));
        } else if (const auto* b = std::get_if<bool>(&prop->Value)) {
            value->vt = VT_BOOL;
            value->boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
        } else {
            value->vt = VT_NULL;
        }
        return WBEM_S_NO_ERROR;
    }

    // The names of the class's own properties (no system property is in this object's list).
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR qualifier, LONG, VARIANT*,
                                       SAFEARRAY** names) override {
        if (!names)
            return WBEM_E_INVALID_PARAMETER;
        if (qualifier)
            return WBEM_E_NOT_SUPPORTED;
        SAFEARRAYBOUND bound{static_cast<ULONG>(FObject.Properties.size()), 0};
        SAFEARRAY* array = ::SafeArrayCreate(VT_BSTR, 1, &bound);
        if (!array)
            return WBEM_E_OUT_OF_MEMORY;
        LONG i = 0;
        for (const auto& p : FObject.Properties) {
            BSTR each = Bstr(p.Name);
            ::SafeArrayPutElement(array, &i, each);
            ::SysFreeString(each);
            ++i;
        }
        *names = array;
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override {
        FNext = 0;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR* name, VARIANT* value, CIMTYPE* type,
                                   LONG* flavor) override {
        if (FNext >= FObject.Properties.size())
            return WBEM_S_NO_MORE_DATA;
        const std::string& each = FObject.Properties[FNext++].Name;
        BSTR wide = Bstr(each);
        const HRESULT hr = Get(wide, 0, value, type, flavor);
        if (name)
            *name = wide;
        else
            ::SysFreeString(wide);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_S_NO_ERROR; }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** copy) override {
        if (!copy)
            return WBEM_E_INVALID_PARAMETER;
        *copy = new TClassObject(FObject);
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_S_FALSE; }

    NOT_SUPPORTED(GetQualifierSet, IWbemQualifierSet**)
    NOT_SUPPORTED(Put, LPCWSTR, LONG, VARIANT*, CIMTYPE)
    NOT_SUPPORTED(Delete, LPCWSTR)
    NOT_SUPPORTED(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**)
    NOT_SUPPORTED(GetObjectText, LONG, BSTR*)
    NOT_SUPPORTED(SpawnDerivedClass, LONG, IWbemClassObject**)
    NOT_SUPPORTED(SpawnInstance, LONG, IWbemClassObject**)
    NOT_SUPPORTED(CompareTo, LONG, IWbemClassObject*)
    NOT_SUPPORTED(GetPropertyOrigin, LPCWSTR, BSTR*)
    NOT_SUPPORTED(GetMethod, LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**)
    NOT_SUPPORTED(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
    NOT_SUPPORTED(DeleteMethod, LPCWSTR)
    NOT_SUPPORTED(BeginMethodEnumeration, LONG)
    NOT_SUPPORTED(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
    NOT_SUPPORTED(EndMethodEnumeration)
    NOT_SUPPORTED(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**)
    NOT_SUPPORTED(GetMethodOrigin, LPCWSTR, BSTR*)

private:
    TInstance FObject;
    std::size_t FNext = 0;
};

class TEnum : public TUnknown<IEnumWbemClassObject> {
public:
    explicit TEnum(std::shared_ptr<const std::vector<TInstance>> objects)
        : FObjects(std::move(objects)) {}

    HRESULT STDMETHODCALLTYPE Reset() override {
        FNext = 0;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Next(LONG, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override {
        if (!objects || !returned)
            return WBEM_E_INVALID_PARAMETER;
        ULONG n = 0;
        for (; n < count && FNext < FObjects->size(); ++n)
            objects[n] = new TClassObject((*FObjects)[FNext++]);
        *returned = n;
        return n == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }
    NOT_SUPPORTED(NextAsync, ULONG, IWbemObjectSink*)
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** copy) override {
        if (!copy)
            return WBEM_E_INVALID_PARAMETER;
        auto* other = new TEnum(FObjects);
        other->FNext = FNext;
        *copy = other;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG count) override {
        const std::size_t left = FObjects->size() - FNext;
        FNext += count < left ? count : left;
        return count <= left ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

private:
    std::shared_ptr<const std::vector<TInstance>> FObjects;
    std::size_t FNext = 0;
};

// ---- services and locator -----------------------------------------------------------------------

class TServices : public TUnknown<IWbemServices> {
public:
    explicit TServices(TMachine machine) : FMachine(std::move(machine)) {}

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG, IWbemContext*,
                                        IEnumWbemClassObject** result) override {
        if (!result || !language || !query)
            return WBEM_E_INVALID_PARAMETER;
        *result = nullptr;
        if (_wcsicmp(language, L"WQL") != 0)
            return WBEM_E_INVALID_QUERY_TYPE;
        try {
            *result = new TEnum(
                std::make_shared<const std::vector<TInstance>>(FMachine.ExecQuery(Narrow(query))));
            return WBEM_S_NO_ERROR;
        } catch (const wmistandin::EWmiError& e) {
            return static_cast<HRESULT>(e.Code());
        } catch (...) {
            return WBEM_E_FAILED;
        }
    }

    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG, IWbemContext*,
                                                 IEnumWbemClassObject** result) override {
        if (!result || !className)
            return WBEM_E_INVALID_PARAMETER;
        *result = nullptr;
        try {
            *result = new TEnum(std::make_shared<const std::vector<TInstance>>(
                FMachine.Instances(Narrow(className))));
            return WBEM_S_NO_ERROR;
        } catch (const wmistandin::EWmiError& e) {
            return static_cast<HRESULT>(e.Code());
        }
    }

    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG, IWbemContext*,
                                        IWbemClassObject** object, IWbemCallResult**) override {
        if (!object || !path)
            return WBEM_E_INVALID_PARAMETER;
        *object = nullptr;
        try {
            const std::string wanted = Narrow(path);
            const auto parsed = wmistandin::ParseObjectPath(wanted);
            for (const TInstance& each : FMachine.Instances(parsed.ClassName))
                if (wmistandin::SameObjectPath(each.Path, wanted, FMachine.Host())) {
                    *object = new TClassObject(each);
                    return WBEM_S_NO_ERROR;
                }
            return WBEM_E_NOT_FOUND;
        } catch (const wmistandin::EWmiError& e) {
            return e.Code() == wbemErrInvalidQuery
                       ? static_cast<HRESULT>(WBEM_E_INVALID_OBJECT_PATH)
                       : static_cast<HRESULT>(e.Code());
        }
    }

    NOT_SUPPORTED(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**,
                  IWbemCallResult**)
    NOT_SUPPORTED(CancelAsyncCall, IWbemObjectSink*)
    NOT_SUPPORTED(QueryObjectSink, LONG, IWbemObjectSink**)
    NOT_SUPPORTED(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    NOT_SUPPORTED(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    NOT_SUPPORTED(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    NOT_SUPPORTED(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(PutInstance, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    NOT_SUPPORTED(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    NOT_SUPPORTED(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    NOT_SUPPORTED(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*,
                  IEnumWbemClassObject**)
    NOT_SUPPORTED(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*,
                  IWbemObjectSink*)
    NOT_SUPPORTED(ExecMethod, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                  IWbemClassObject**, IWbemCallResult**)
    NOT_SUPPORTED(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                  IWbemObjectSink*)

private:
    TMachine FMachine;
};

// "IWbemLocator::ConnectServer": the resource is a namespace, alone for this machine or after
// \\server\ (or //server/). The machine file is read on each connection, so that a test may
// change the machine between two.
class TLocator : public TUnknown<IWbemLocator> {
public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR, const BSTR, const BSTR,
                                            LONG, const BSTR, IWbemContext*,
                                            IWbemServices** services) override {
        if (!services || !resource)
            return WBEM_E_INVALID_PARAMETER;
        *services = nullptr;
        const std::string host = Host();
        std::string ns = Narrow(resource);
        for (char& c : ns)
            c = c == '/' ? '\\' : c;
        if (ns.rfind("\\\\", 0) == 0) {
            const auto end = ns.find('\\', 2);
            const std::string server = ns.substr(2, end == std::string::npos ? end : end - 2);
            if (server != "." && _stricmp(server.c_str(), host.c_str()) != 0)
                return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
            ns = end == std::string::npos ? "" : ns.substr(end + 1);
        }
        if (_stricmp(ns.c_str(), "root\\cimv2") != 0)
            return WBEM_E_INVALID_NAMESPACE;
        wchar_t file[MAX_PATH];
        const DWORD n = ::GetEnvironmentVariableW(L"PENDOCK_WMI_MACHINE", file, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return WBEM_E_FAILED;
        std::ifstream in{std::filesystem::path(file)};
        if (!in)
            return WBEM_E_FAILED;
        try {
            *services = new TServices(TMachine::Read(in, host));
            return WBEM_S_NO_ERROR;
        } catch (const wmistandin::EWmiError& e) {
            return static_cast<HRESULT>(e.Code());
        }
    }
};

class TFactory : public TUnknown<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* locator = new TLocator;
        const HRESULT hr = locator->QueryInterface(iid, out);
        locator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ::InterlockedIncrement(&gObjects);
        else
            ::InterlockedDecrement(&gObjects);
        return S_OK;
    }
};

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_WbemLocator)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new TFactory;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return gObjects == 0 ? S_OK : S_FALSE;
}
