#pragma once
// Summaries of timing samples. The machine is shared, so medians carry the comparisons.

#include <vector>

double median(std::vector<double> samples);                 // 0 for no samples
double percentile(std::vector<double> samples, double p);   // p in [0, 100], nearest rank
double secondsSince(double startSeconds);
double nowSeconds();  // monotonic clock
