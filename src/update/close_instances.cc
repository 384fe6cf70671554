#include "update/close_instances.h"

#include "console/messages.h"
#include "platform/platform.h"

namespace {

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// The file name is a literal of the build in plain ASCII, so widening each
// byte gives its exact UTF-16 form.
std::u16string WidenAscii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

bool IsSameExeFileName(const std::u16string& exeFile, const std::u16string& fileName) {
  if (exeFile.size() != fileName.size()) return false;
  for (std::size_t i = 0; i < exeFile.size(); ++i) {
    if (AsciiLower(exeFile[i]) != AsciiLower(fileName[i])) return false;
  }
  return true;
}

void CloseRunningInstances(std::ostream& out, const std::string& fileName) {
  WriteMessage(out, MsgClosing);

  const platform::Handle snapshot = platform::CreateToolhelp32Snapshot();
  if (snapshot == platform::kInvalidHandleValue) return;

  const std::u16string wideName = WidenAscii(fileName);
  platform::ProcessEntry entry;
  for (bool more = platform::Process32FirstW(snapshot, entry); more;
       more = platform::Process32NextW(snapshot, entry)) {
    if (!IsSameExeFileName(entry.exeFile, wideName)) continue;
    // Another user's or an elevated instance can't be opened; it is left be.
    const platform::Handle process = platform::OpenProcess(entry.processId);
    if (process == platform::kNullHandle) continue;
    platform::TerminateProcess(process, 0);
    platform::CloseHandle(process);
  }
  platform::CloseHandle(snapshot);
}
