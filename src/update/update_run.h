// The update run: the updater's whole job, from layout preparation to the
// exit status.
#ifndef VELMORA_UPDATE_UPDATE_RUN_H_
#define VELMORA_UPDATE_UPDATE_RUN_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "layout/layout.h"

// Exit statuses of the updater.
constexpr int kExitDone = 0;    // the new package is in place and the program started
constexpr int kExitFailed = 1;  // the run ended early; the report says where

// Runs one update, writing its progress lines on `out`. Returns the exit
// status.
int RunUpdate(std::ostream& out);

// Keeps the installed package as the backup and moves the downloaded package
// into its place. Returns false when the downloaded package could not be
// moved; the install then still has its package wherever that can be arranged.
bool ReplacePackage(const InstallLayout& layout);

// Starts the target program with no command line and closes its handles at
// once. On failure returns false with the system error code in `error`.
bool StartTargetProgram(const std::string& targetProgram, std::uint32_t& error);

#endif  // VELMORA_UPDATE_UPDATE_RUN_H_
