#include "console/progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kMB = 1024 * 1024;

TEST(Progress, TheTextShowsWhatHasArrivedTruncated) {
  const struct {
    std::uint64_t received, announced;
    const char* text;
  } cases[] = {
      {0, 100 * kMB, "   0%  0.0 / 100.0 MB"},
      {45 * kMB, 100 * kMB, "  45%  45.0 / 100.0 MB"},
      {100 * kMB - 1, 100 * kMB, "  99%  99.9 / 100.0 MB"},  // never 100% before the end
      {100 * kMB, 100 * kMB, " 100%  100.0 / 100.0 MB"},
      {101 * kMB, 100 * kMB, " 100%  101.0 / 100.0 MB"},  // a server that sends more than it said
      {1, 3, "  33%  0.0 / 0.0 MB"},
      {3 * 1024 * kMB, 4 * 1024 * kMB, "  75%  3072.0 / 4096.0 MB"},  // past 32-bit counts
      {0, 0, "  0.0 MB"},  // no length announced
      {12 * kMB + kMB * 35 / 100, 0, "  12.3 MB"},
      {5 * 1024 * kMB, 0, "  5120.0 MB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressText(c.received, c.announced), c.text) << c.received << " of " << c.announced;
  }
}

TEST(Progress, TheLineIsRedrawnOnlyWhenItChangesAndAtMostFourTimesASecond) {
  struct Step {
    std::uint64_t received, announced, nowMs;
  };
  const std::string blank20 = "\r" + std::string(20, ' ') + "\r";
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::string output;  // after the steps and Erase()
  } cases[] = {
      {"drawn at once, not again for the same text, then erased",
       {{kMB, 10 * kMB, 1000}, {kMB + 1, 10 * kMB, 2000}},
       "\r  10%  1.0 / 10.0 MB" + blank20},
      {"a change within a quarter second waits for a later step",
       {{kMB, 10 * kMB, 1000}, {2 * kMB, 10 * kMB, 1100}, {3 * kMB, 10 * kMB, 1249}, {4 * kMB, 10 * kMB, 1250}},
       "\r  10%  1.0 / 10.0 MB\r  40%  4.0 / 10.0 MB" + blank20},
      {"a shorter text covers the longer one before it",
       {{kMB, 10 * kMB, 0}, {2 * kMB, 0, 300}},
       "\r  10%  1.0 / 10.0 MB\r  2.0 MB" + std::string(12, ' ') + blank20},
      {"nothing drawn, nothing erased", {}, ""},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    ProgressLine line(out);
    for (const auto& step : c.steps) line.Update(step.received, step.announced, step.nowMs);
    line.Erase();
    line.Erase();  // a second erase writes nothing more
    EXPECT_EQ(out.str(), c.output) << c.name;
  }
}

}  // namespace
