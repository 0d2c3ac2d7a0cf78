#pragma once
// The WMI scripting interfaces (locator, services, object set, object, property set, property)
// as the platform's providers implement them and the key identification reads them, with the
// CIM types, error codes and values they carry. Errors are thrown as EWbemError.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

// CIM type codes of WMI properties.
enum EWbemCimtype : int {
    wbemCimtypeSint16 = 2,
    wbemCimtypeSint32 = 3,
    wbemCimtypeReal32 = 4,
    wbemCimtypeReal64 = 5,
    wbemCimtypeString = 8,
    wbemCimtypeBoolean = 11,
    wbemCimtypeObject = 13,
    wbemCimtypeSint8 = 16,
    wbemCimtypeUint8 = 17,
    wbemCimtypeUint16 = 18,
    wbemCimtypeUint32 = 19,
    wbemCimtypeSint64 = 20,
    wbemCimtypeUint64 = 21,
    wbemCimtypeDatetime = 101,
    wbemCimtypeReference = 102,
    wbemCimtypeChar16 = 103,
};

// Flag of ExecQuery: return at once and deliver the objects as they come.
constexpr int wbemFlagReturnImmediately = 16;

// An error raised by a WMI operation (what the scripting objects raise as a COM error).
class EWbemError : public std::runtime_error {
public:
    EWbemError(std::uint32_t code, const std::string& message)
        : std::runtime_error(message), FCode(code) {}
    std::uint32_t Code() const { return FCode; }

private:
    std::uint32_t FCode;
};

// WMI's own error codes that the providers raise.
constexpr std::uint32_t wbemErrFailed = 0x80041001;
constexpr std::uint32_t wbemErrNotFound = 0x80041002;
constexpr std::uint32_t wbemErrInvalidNamespace = 0x8004100E;
constexpr std::uint32_t wbemErrInvalidClass = 0x80041010;
constexpr std::uint32_t wbemErrInvalidQuery = 0x80041017;
constexpr std::uint32_t wbemErrInvalidQueryType = 0x80041018;
constexpr std::uint32_t wbemErrInvalidParameter = 0x80041008;

// An embedded CIM object inside a property value; only its presence matters here.
struct TWbemEmbeddedObject {
    std::string ClassName;
    bool operator==(const TWbemEmbeddedObject&) const = default;
};

// One value of a property: the alternatives a WMI variant can hold.
using TWbemScalar =
    std::variant<bool, std::int64_t, std::uint64_t, double, std::string, TWbemEmbeddedObject>;

// The value of a property: null, a single value or a one-dimensional array.
class TWbemVariant {
public:
    TWbemVariant() = default; // null
    TWbemVariant(TWbemScalar value) : FKind(EKind::Single), FItems{std::move(value)} {}
    static TWbemVariant Null() { return {}; }
    static TWbemVariant Array(std::vector<TWbemScalar> items) {
        TWbemVariant v;
        v.FKind = EKind::Array;
        v.FItems = std::move(items);
        return v;
    }

    bool IsNull() const { return FKind == EKind::Null; }
    bool IsArray() const { return FKind == EKind::Array; }
    // The single value (IsNull and IsArray both false).
    const TWbemScalar& Scalar() const { return FItems.at(0); }
    // The elements of an array, from index 0.
    const std::vector<TWbemScalar>& Elements() const { return FItems; }

private:
    enum class EKind { Null, Single, Array };
    EKind FKind = EKind::Null;
    std::vector<TWbemScalar> FItems;
};

class ISWbemProperty {
public:
    virtual ~ISWbemProperty() = default;
    virtual std::string Name() const = 0;
    virtual int CIMType() const = 0;
    virtual TWbemVariant Value() const = 0;
};

class ISWbemPropertySet {
public:
    virtual ~ISWbemPropertySet() = default;
    // The property of that name; throws EWbemError (not found) when there is none.
    virtual std::shared_ptr<ISWbemProperty> Item(const std::string& name, int flags) = 0;
    virtual int Count() = 0;
};

class ISWbemObject {
public:
    virtual ~ISWbemObject() = default;
    virtual std::shared_ptr<ISWbemPropertySet> Properties_() = 0;
};

// Enumeration of an object set: Next gives the objects in turn, then null.
class IEnumWbemObject {
public:
    virtual ~IEnumWbemObject() = default;
    virtual std::shared_ptr<ISWbemObject> Next() = 0;
};

class ISWbemObjectSet {
public:
    virtual ~ISWbemObjectSet() = default;
    virtual int Count() = 0;
    virtual std::unique_ptr<IEnumWbemObject> NewEnum() = 0;
};

// A property whose name, CIM type and value are known already.
std::shared_ptr<ISWbemProperty> MakeWbemProperty(std::string name, int cimType, TWbemVariant value);

// An object set over objects already read, for providers that read a query's whole result at
// once; each enumeration walks the objects in the order given.
std::shared_ptr<ISWbemObjectSet>
MakeWbemObjectSet(std::vector<std::shared_ptr<ISWbemObject>> objects);

// A named-value set is not used by this program; the parameter keeps the call's shape.
class ISWbemNamedValueSet;

class ISWbemServices {
public:
    virtual ~ISWbemServices() = default;
    virtual std::shared_ptr<ISWbemObjectSet>
    ExecQuery(const std::string& strQuery, const std::string& strQueryLanguage, int iFlags,
              ISWbemNamedValueSet* objWbemNamedValueSet) = 0;
};

class ISWbemLocator {
public:
    virtual ~ISWbemLocator() = default;
    virtual std::shared_ptr<ISWbemServices>
    ConnectServer(const std::string& strServer, const std::string& strNamespace,
                  const std::string& strUser, const std::string& strPassword,
                  const std::string& strLocale, const std::string& strAuthority, int iSecurityFlags,
                  ISWbemNamedValueSet* objWbemNamedValueSet) = 0;
};
