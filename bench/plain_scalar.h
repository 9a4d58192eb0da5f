#pragma once

#include "signal/signal.h"

// y := x * h by the plain loop, one scalar multiply-add at a time.
// Requires N + M >= 1.
void plain_scalar_convolution(const Signal& x, const Signal& h, Signal& y);
