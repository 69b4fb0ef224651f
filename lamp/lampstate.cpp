#include "lamp/lampstate.h"

namespace tintrava {

int HardwareRow = -1;

} // namespace tintrava
