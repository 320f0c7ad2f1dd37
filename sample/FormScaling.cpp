#include "FormScaling.h"

#include <algorithm>

int ScaleValue(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

namespace {

TBounds ScaleBounds(const TBounds& b, int to, int from) {
    return {ScaleValue(b.Left, to, from), ScaleValue(b.Top, to, from), ScaleValue(b.Width, to, from),
            ScaleValue(b.Height, to, from)};
}

}  // namespace

TFormSpec ScaleForm(TFormSpec spec, int pixelsPerInch) {
    const int from = spec.PixelsPerInch;
    if (from == pixelsPerInch) return spec;
    spec.Bounds = ScaleBounds(spec.Bounds, pixelsPerInch, from);
    spec.Font.Height = ScaleValue(spec.Font.Height, pixelsPerInch, from);
    spec.TextHeight = ScaleValue(spec.TextHeight, pixelsPerInch, from);
    for (auto& list : spec.CheckLists) {
        list.Bounds = ScaleBounds(list.Bounds, pixelsPerInch, from);
        // A list box cannot draw entries taller than 255 pixels.
        list.ItemHeight = std::clamp(ScaleValue(list.ItemHeight, pixelsPerInch, from), 1, 255);
    }
    spec.PixelsPerInch = pixelsPerInch;
    return spec;
}
