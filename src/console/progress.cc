#include "console/progress.h"

#include <algorithm>
#include <cstdio>

namespace {

// Tenths of a megabyte, truncated, as "12.3".
std::string Megabytes(std::uint64_t bytes) {
  const std::uint64_t tenths = bytes * 10 / (1024 * 1024);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

std::string ProgressText(std::uint64_t received, std::uint64_t announced) {
  if (announced == 0) return "  " + Megabytes(received) + " MB";
  const std::uint64_t percent = received >= announced ? 100 : received * 100 / announced;
  char head[16];
  std::snprintf(head, sizeof head, "%4u%%  ", static_cast<unsigned>(percent));
  return head + Megabytes(received) + " / " + Megabytes(announced) + " MB";
}

void ProgressLine::Update(std::uint64_t received, std::uint64_t announced, std::uint64_t nowMs) {
  if (!shown_.empty() && nowMs - drawnAtMs_ < kProgressRedrawMs) return;
  const std::string text = ProgressText(received, announced);
  if (text == shown_) return;
  // Spaces cover what is left of a longer text drawn before.
  out_ << '\r' << text << std::string(width_ > text.size() ? width_ - text.size() : 0, ' ') << std::flush;
  shown_ = text;
  width_ = std::max(width_, text.size());
  drawnAtMs_ = nowMs;
}

void ProgressLine::Erase() {
  if (width_ == 0) return;
  out_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  shown_.clear();
  width_ = 0;
}
