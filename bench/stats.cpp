#include "stats.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::size_t mid = samples.size() / 2;
  std::nth_element(samples.begin(), samples.begin() + static_cast<long>(mid), samples.end());
  double upper = samples[mid];
  if (samples.size() % 2 == 1) return upper;
  double lower = *std::max_element(samples.begin(), samples.begin() + static_cast<long>(mid));
  return (lower + upper) / 2;
}

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double secondsSince(double startSeconds) { return nowSeconds() - startSeconds; }
