// The process itself: its setup, its command line and executable, the
// debugger's channel, and how failures caused by other processes are told.
#pragma once

#include "common/result.h"

#include <string>

namespace kelzar::sys {

// Done first in every run: no system message box (a drive without a disk,
// say) may ever wait for a click in a batch job.
void PrepareProcess();

// A line for whoever debugs the program (a debugger, or Wine's debugstr
// channel in the tests); never shown to a user.
void DebugLog(const std::string& line);

// Whether the failure is one that another program's brief hold on a file
// causes (a sharing violation, a lock, an open handle that stops a rename):
// worth trying again after a pause, unlike every other failure.
bool IsTransientHold(const Failure& failure);

std::string GetCommandLineText();
std::string GetExeFilePath();

} // namespace kelzar::sys
