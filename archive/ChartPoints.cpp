// Reducing a series to what a chart of a given width can show.
#include "archive/ChartPoints.h"

#include <algorithm>
#include <cmath>

std::vector<ChartPoint> VisiblePoints(const std::vector<ChartPoint>& points, double x0, double x1,
                                      int slices) {
    const auto byX = [](const ChartPoint& p, double x) { return p.X < x; };
    auto begin = std::lower_bound(points.begin(), points.end(), x0, byX);
    auto end = std::upper_bound(points.begin(), points.end(), x1,
                                [](double x, const ChartPoint& p) { return x < p.X; });
    if (begin != points.begin()) --begin;
    if (end != points.end()) ++end;
    const auto count = end - begin;
    std::vector<ChartPoint> out;
    if (slices < 1 || x1 <= x0 || count <= 4 * slices) {
        out.assign(begin, end);
        return out;
    }
    out.reserve(4 * static_cast<std::size_t>(slices) + 2);
    const double width = (x1 - x0) / slices;
    auto it = begin;
    while (it != end) {
        // The slice of *it; points outside [x0, x1] form slices of their own.
        const double slice = (it->X - x0) / width;
        const double sliceEnd = slice < 0 || it->X > x1 ? it->X : x0 + (std::floor(slice) + 1) * width;
        auto stop = it;
        auto low = it, high = it;
        while (stop != end && (stop == it || stop->X < sliceEnd)) {
            if (stop->Y < low->Y) low = stop;
            if (stop->Y > high->Y) high = stop;
            ++stop;
        }
        const auto last = stop - 1;
        // First, lowest, highest, last, in the order of X.
        ChartPoint picked[4] = {*it, *low, *high, *last};
        std::sort(std::begin(picked), std::end(picked),
                  [](const ChartPoint& a, const ChartPoint& b) { return a.X < b.X; });
        for (int i = 0; i < 4; ++i)
            if (out.empty() || picked[i].X != out.back().X || picked[i].Y != out.back().Y)
                out.push_back(picked[i]);
        it = stop;
    }
    return out;
}
