#include "console/messages.h"

// Numbers go through the stream with its default format: plain decimal, no
// grouping, no width, no plus sign. The stream's flags are never changed, so
// nothing here depends on an earlier writer's state.

void WriteMessage(std::ostream& out, const char* message) {
  out << message << '\n';
}

void WriteMessageWithSignedCode(std::ostream& out, const char* message, std::int32_t code) {
  out << message << code << '\n';
}

void WriteMessageWithUnsignedCode(std::ostream& out, const char* message, std::uint32_t code) {
  out << message << code << '\n';
}
