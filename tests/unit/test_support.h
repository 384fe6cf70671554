// Small helpers shared by the unit tests.
#ifndef VELMORA_TESTS_TEST_SUPPORT_H_
#define VELMORA_TESTS_TEST_SUPPORT_H_

#include <cstdlib>
#include <sstream>
#include <streambuf>
#include <string>

// Bytes from a hex listing such as "B9 D8 2E".
inline std::string Bytes(const std::string& hex) {
  std::istringstream in(hex);
  std::string out, pair;
  while (in >> pair) out.push_back(static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16)));
  return out;
}

// A stream buffer that refuses every byte, as standard output does when it
// is closed or its disk is full.
class FailingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

#endif  // VELMORA_TESTS_TEST_SUPPORT_H_
