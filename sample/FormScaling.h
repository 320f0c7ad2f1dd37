// Adapts a form's stored sizes to the density of the toolkit's logical
// pixels. Both toolkits here work in 96-per-inch logical pixels and let the
// system scale them for the screen, so a description stored at another
// density is converted once, when the form is built.
#pragma once

#include "FormSchema.h"

constexpr int ToolkitPixelsPerInch = 96;

// Scales value by numerator/denominator, rounding halves away from zero.
int ScaleValue(int value, int numerator, int denominator);

TFormSpec ScaleForm(TFormSpec spec, int pixelsPerInch);
