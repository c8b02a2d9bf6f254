// Placeholder translation unit until the runtime's sources land.
#include "platform/com/comrt.h"
