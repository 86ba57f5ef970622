// The layer object's constructor and destructor. They live apart from the
// code conversions of layer7.cpp because they build the link layer: they
// go into the engine library, above the link library, while the
// conversions stay usable on their own.

#include "control/decode/layer7.h"

MBLayer7::MBLayer7() = default;
MBLayer7::~MBLayer7() = default;
