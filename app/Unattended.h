// What an unattended run needs beyond the window: the exit codes the program
// ends with, the answer taken where a question would wait for a person, and
// the closing lines of a report.
#pragma once
#include "app/AppState.h"
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace krv {

// The program's exit code after an unattended run.
enum TRunExitCode {
    ecDone = 0,       // the backup holds every selected file
    ecLeftOut = 1,    // done, but files or folders were left out, or files stored as
                      // they changed (each named in the report)
    ecFailed = 2,     // the run failed, was stopped or cancelled; no archive kept
    ecUnusable = 3,   // the session file or the command line could not be used
};

// The answer that loses nothing to a message box of these flags: Cancel where
// there is one (stop before anything is written), No to a Yes/No question,
// Abort to Abort/Retry/Ignore, OK to a plain message.
int UnattendedAnswer(UINT flags);

// A message box for a person; in batch mode the text becomes a red log line
// (through redLine) and the unattended answer is taken without waiting.
int AskUser(const std::string& text, const std::string& caption, UINT flags,
            const std::function<void(const std::string&)>& redLine);

// One line of a box text: its line breaks become spaces.
std::string OneLine(const std::string& text);

// A test seam: the positive number (at most max) in the environment variable
// name, or 0 when it is unset or anything else.
int64_t TestSeamNumber(const char* name, int64_t max);

// The closing lines of a finished run's report; the files that changed while
// they were read are among those archived, on a line of their own when any.
std::vector<std::string> RunSummaryLines(const std::string& archive, int64_t files, int64_t bytes, int changed,
                                         int leftOut);

} // namespace krv
