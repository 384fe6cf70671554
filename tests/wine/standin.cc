// A stand-in for the target program in the wine tests and the demo. It
// appends one line to "<its own path>.log" saying that it started, with
// which command line and which package it found in resources\app.asar beside
// it, then idles until it is terminated (or ten minutes have passed, so a
// forgotten one can't linger).
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path(self);
  const std::string folder = path.substr(0, path.rfind('\\'));

  std::string package = "<missing>";
  if (FILE* in = std::fopen((folder + "\\resources\\app.asar").c_str(), "rb")) {
    char head[64] = {};
    const size_t got = std::fread(head, 1, sizeof head - 1, in);
    std::fclose(in);
    package.assign(head, got);
    const auto end = package.find_first_of("\r\n");
    if (end != std::string::npos) package.resize(end);
  }

  if (FILE* log = std::fopen((path + ".log").c_str(), "ab")) {
    std::fprintf(log, "started pid=%lu cmdline=[%s] package=[%s]\n", GetCurrentProcessId(), GetCommandLineA(),
                 package.c_str());
    std::fclose(log);
  }
  Sleep(10 * 60 * 1000);
  return 0;
}
