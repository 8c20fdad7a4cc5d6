// The points of a chart series that can be seen: at most four per slice of
// the visible range (first, lowest, highest, last), so that a year of hours
// draws as fast as a day while every peak stays where it is.
#pragma once
#include <cstddef>
#include <vector>

struct ChartPoint {
    double X = 0, Y = 0;
};

// `points` sorted by X. Those with X in [x0, x1], reduced to `slices` equal
// slices of that range (all of them when there are few), plus the nearest
// point outside each end so that the line runs on to the edge.
std::vector<ChartPoint> VisiblePoints(const std::vector<ChartPoint>& points, double x0, double x1,
                                      int slices);
