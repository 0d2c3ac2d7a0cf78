// The part of the WMI seam both systems share: the objects providers fill with what they read,
// and the choice between the platform's provider and one a test puts in its place.
#include "platform/wmi.h"

#include <mutex>

namespace {

class TProperty : public ISWbemProperty {
public:
    TProperty(std::string name, int type, TWbemVariant value)
        : FName(std::move(name)), FType(type), FValue(std::move(value)) {}
    std::string Name() const override { return FName; }
    int CIMType() const override { return FType; }
    TWbemVariant Value() const override { return FValue; }

private:
    std::string FName;
    int FType;
    TWbemVariant FValue;
};

class TObjectEnum : public IEnumWbemObject {
public:
    explicit TObjectEnum(std::vector<std::shared_ptr<ISWbemObject>> objects)
        : FObjects(std::move(objects)) {}
    std::shared_ptr<ISWbemObject> Next() override {
        return FNext < FObjects.size() ? FObjects[FNext++] : nullptr;
    }

private:
    std::vector<std::shared_ptr<ISWbemObject>> FObjects;
    std::size_t FNext = 0;
};

class TObjectSet : public ISWbemObjectSet {
public:
    explicit TObjectSet(std::vector<std::shared_ptr<ISWbemObject>> objects)
        : FObjects(std::move(objects)) {}
    int Count() override { return static_cast<int>(FObjects.size()); }
    std::unique_ptr<IEnumWbemObject> NewEnum() override {
        return std::make_unique<TObjectEnum>(FObjects);
    }

private:
    std::vector<std::shared_ptr<ISWbemObject>> FObjects;
};

} // namespace

std::shared_ptr<ISWbemProperty> MakeWbemProperty(std::string name, int cimType,
                                                 TWbemVariant value) {
    return std::make_shared<TProperty>(std::move(name), cimType, std::move(value));
}

std::shared_ptr<ISWbemObjectSet>
MakeWbemObjectSet(std::vector<std::shared_ptr<ISWbemObject>> objects) {
    return std::make_shared<TObjectSet>(std::move(objects));
}

namespace platform {
namespace {
std::mutex& FactoryMutex() {
    static std::mutex m;
    return m;
}
WbemLocatorFactory& Factory() {
    static WbemLocatorFactory f;
    return f;
}
} // namespace

std::shared_ptr<ISWbemLocator> CreateWbemLocator() {
    WbemLocatorFactory f;
    {
        std::lock_guard lock(FactoryMutex());
        f = Factory();
    }
    return f ? f() : CreatePlatformWbemLocator();
}

WbemLocatorFactory SetWbemLocatorFactory(WbemLocatorFactory factory) {
    std::lock_guard lock(FactoryMutex());
    WbemLocatorFactory previous = std::move(Factory());
    Factory() = std::move(factory);
    return previous;
}
} // namespace platform
