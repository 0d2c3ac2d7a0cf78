#pragma once
// Where the WMI scripting locator comes from: the platform's provider, or one a test stands
// in its place.

#include <functional>
#include <memory>

#include "platform/wbem.h"

namespace platform {

using WbemLocatorFactory = std::function<std::shared_ptr<ISWbemLocator>()>;

// A new locator from the current factory; throws EWbemError when none can be created.
std::shared_ptr<ISWbemLocator> CreateWbemLocator();

// Puts `factory` in place of the current one and returns the one it replaces. An empty
// function brings back the platform's own provider.
WbemLocatorFactory SetWbemLocatorFactory(WbemLocatorFactory factory);

// The platform's own provider, whatever factory is set.
std::shared_ptr<ISWbemLocator> CreatePlatformWbemLocator();

} // namespace platform
