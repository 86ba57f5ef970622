#include "tools/mbus-bridge/payload.h"
