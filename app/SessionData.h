// The current job as the main window sees it. Only the fields the window's
// life and the log need are here; reading and writing session files, and the
// rest of the record, belong to the session layer that extends this type.
#pragma once
#include "framework/Dialogs.h"
#include <string>

namespace krv {

struct TSessionData {
    std::string Name;            // empty until the session is named
    int Log = 1;                 // report level 0..3
    int Type = 0;                // 0 disc, 1 hard disk
    std::string ArchiveName;
    bool CloseKRV = false;       // close the window after the backup
    bool Modified = false;
    bool NeverSaved = true;
    TDateTime LastSave = 0;
    TDateTime LastBackup = 0;

    // Back to a new session's values.
    void Reset() { *this = TSessionData(); }
};

} // namespace krv
