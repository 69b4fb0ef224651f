#pragma once
// Readable names of D2XX flags, for the traces and logs of the driver
// stand-ins (the virtual lamp, the tests' fake driver).
#include <string>

#include "lamp/d2xx/d2xx_api.h"

namespace tintrava {

// "BY_INDEX|DESCRIPTION"; bits without a name as 0x…; "0" for none.
std::string d2xxFlagsText(DWORD flags);

} // namespace tintrava
