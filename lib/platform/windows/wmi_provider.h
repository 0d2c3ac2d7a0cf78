#pragma once
// The WMI provider of Windows: the system's WMI through its COM interfaces (IWbemLocator,
// IWbemServices, IEnumWbemClassObject, IWbemClassObject), behind the scripting-object seam.
//
// The objects hold COM pointers: they are used and released on the thread that made them, on
// which COM must be initialised (the program's main thread, see platform/program_com.h). A call on
// a thread without COM fails with EWbemError (CO_E_NOTINITIALIZED).

#include <oaidl.h>
#include <wbemcli.h>

#include <memory>

#include "platform/wbem.h"

namespace platform::win {

// A locator over the system's WMI, made now: throws EWbemError with the system's code when
// the locator object cannot be created.
std::shared_ptr<ISWbemLocator> MakeComWbemLocator();

// The value of a WMI property as IWbemClassObject::Get delivers it, in the seam's terms, by
// its CIM type: VT_NULL and VT_EMPTY are null; a SAFEARRAY gives its first dimension's
// elements from the lower bound to the upper bound; unsigned 32-bit values, which WMI hands
// out as VT_I4, come back unsigned; 64-bit integers, delivered as texts, come back as numbers
// when the text is one; embedded objects give their class name. Throws EWbemError
// (wbemErrFailed) for a variant type it cannot read.
TWbemVariant VariantToWbem(const VARIANT& value, CIMTYPE type);

} // namespace platform::win
