#include "mod_WbemScripting_TLB.h"

#include "platform/wmi.h"

ISWbemLocator& TSWbemLocator::DefaultInterface() {
    if (!FIntf) {
        FIntf = platform::CreateWbemLocator();
        if (!FIntf)
            throw EWbemError(wbemErrFailed, "the WMI locator cannot be created");
    }
    return *FIntf;
}

std::shared_ptr<ISWbemServices>
TSWbemLocator::ConnectServer(const std::string& strServer, const std::string& strNamespace,
                             const std::string& strUser, const std::string& strPassword,
                             const std::string& strLocale, const std::string& strAuthority,
                             int iSecurityFlags, ISWbemNamedValueSet* objWbemNamedValueSet) {
    return DefaultInterface().ConnectServer(strServer, strNamespace, strUser, strPassword,
                                            strLocale, strAuthority, iSecurityFlags,
                                            objWbemNamedValueSet);
}
