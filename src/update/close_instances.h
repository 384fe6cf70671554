// Closing every running instance of the target program before the download.
#ifndef VELMORA_UPDATE_CLOSE_INSTANCES_H_
#define VELMORA_UPDATE_CLOSE_INSTANCES_H_

#include <ostream>
#include <string>

// Writes the closing message, then terminates (exit code 0) every process
// whose executable file name is `fileName`, wherever it was started from.
// Doesn't wait for them to end; a process that can't be opened is skipped.
void CloseRunningInstances(std::ostream& out, const std::string& fileName);

// True when `exeFile` names the same file as `fileName`: whole names, ASCII
// letters A-Z compared without case, every other code unit exact.
bool IsSameExeFileName(const std::u16string& exeFile, const std::u16string& fileName);

#endif  // VELMORA_UPDATE_CLOSE_INSTANCES_H_
