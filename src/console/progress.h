// The download's progress line on an interactive console: one line under
// the downloading message, redrawn in place, erased before the next message
// so that the console ends with the message lines alone. ASCII only.
#ifndef VELMORA_CONSOLE_PROGRESS_H_
#define VELMORA_CONSOLE_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

// A redraw at most this often, whatever the download's pace.
constexpr std::uint64_t kProgressRedrawMs = 250;

// "  45%  45.0 / 100.0 MB" for a known length, "  45.0 MB" without one. Both
// the percentage and the megabytes (of 1,048,576 bytes) are truncated, so
// 100% and the full size show only once everything has arrived.
std::string ProgressText(std::uint64_t received, std::uint64_t announced);

class ProgressLine {
 public:
  explicit ProgressLine(std::ostream& out) : out_(out) {}

  // Shows `received` of `announced` bytes (0: length unknown) at `nowMs`:
  // drawn at once the first time, then redrawn only when the text has
  // changed and the last draw is at least kProgressRedrawMs old.
  void Update(std::uint64_t received, std::uint64_t announced, std::uint64_t nowMs);

  // Blanks the line and puts the cursor back at its start (carriage return,
  // spaces, carriage return), so the next message is written where the
  // progress was. Writes nothing when nothing was drawn.
  void Erase();

 private:
  std::ostream& out_;
  std::string shown_;
  std::size_t width_ = 0;  // the longest text drawn: what Erase must cover
  std::uint64_t drawnAtMs_ = 0;
};

#endif  // VELMORA_CONSOLE_PROGRESS_H_
