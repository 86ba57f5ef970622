#include "tools/mbus-bridge/config.h"
