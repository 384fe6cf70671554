// The update run: the updater's whole job, from layout preparation to the
// exit status.
#ifndef VELMORA_UPDATE_UPDATE_RUN_H_
#define VELMORA_UPDATE_UPDATE_RUN_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "layout/layout.h"

// Exit statuses of the updater.
constexpr int kExitDone = 0;    // the new package is in place and the program started
constexpr int kExitFailed = 1;  // the run ended early; the report says where

// Runs one update, writing its progress lines on `out`. With a
// `publicKey` (DER SubjectPublicKeyInfo of an ECDSA P-256 key) the package is
// installed only when its signature verifies with that key; with none, no
// signature is fetched. Returns the exit status.
int RunUpdate(std::ostream& out, std::string_view publicKey);

// Downloads the package into `downloadFile`. When standard output is an
// interactive console, a progress line under the downloading message shows
// how far it has got, and is erased before the call returns. Returns the
// download's result code.
std::int32_t DownloadPackage(std::ostream& out, const std::string& downloadFile);

// How a downloaded package fared against its signature.
struct Verdict {
  const char* failureMessage = nullptr;  // null: verified
  std::int32_t code = 0;                 // the failure's HRESULT
};

// Fetches the package's signature and verifies the download file against it
// and `publicKey`. A signature that can't be fetched fails with
// MsgDownloadFailed, one that doesn't verify with MsgVerifyFailed; either
// way the download file is deleted. The signature file never outlasts the
// call.
Verdict VerifyPackage(const InstallLayout& layout, std::string_view publicKey);

// Keeps the installed package as the backup (clearing a read-only backup's
// attribute so it can be replaced) and moves the downloaded package into its
// place. Returns false when the downloaded package could not be
// moved; the install then still has its package wherever that can be arranged.
bool ReplacePackage(const InstallLayout& layout);

// Starts the target program with no command line and closes its handles at
// once. On failure returns false with the system error code in `error`.
bool StartTargetProgram(const std::string& targetProgram, std::uint32_t& error);

#endif  // VELMORA_UPDATE_UPDATE_RUN_H_
