#pragma once
// The locator wrapper of the WMI scripting objects the key identification uses.
//
// The interfaces (platform/wbem.h) mirror the scripting objects of WMI. A provider stands
// behind them: the platform's own (see platform/wmi.h) or, in tests, a fake. Errors are
// thrown as EWbemError.

#include <memory>
#include <string>

#include "platform/wbem.h"

// Thin wrapper of the locator object: creates it on first use through the platform's
// factory and releases it when freed.
class TSWbemLocator {
public:
    TSWbemLocator() = default;
    ~TSWbemLocator() = default;
    TSWbemLocator(const TSWbemLocator&) = delete;
    TSWbemLocator& operator=(const TSWbemLocator&) = delete;

    // The locator interface, created now if it is not yet; throws EWbemError when the
    // locator cannot be created.
    ISWbemLocator& DefaultInterface();

    std::shared_ptr<ISWbemServices>
    ConnectServer(const std::string& strServer, const std::string& strNamespace,
                  const std::string& strUser, const std::string& strPassword,
                  const std::string& strLocale, const std::string& strAuthority, int iSecurityFlags,
                  ISWbemNamedValueSet* objWbemNamedValueSet);

private:
    std::shared_ptr<ISWbemLocator> FIntf;
};
