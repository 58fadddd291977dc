// What the windows of the program share without needing the main window's
// whole declaration: the program-wide flags and the main form's language.
#pragma once
#include "framework/Strings.h"

namespace krv {

class TForm;

// Program-wide state shared with the run, the mail and the batch mode.
extern bool Batch;
extern bool MailBusy;
extern bool CloseWhenMailDone;
extern bool LogPanelShown;
extern bool NetworkDestination;
// Windows is ending the session: a run stops at once, nothing waits for a person.
extern bool SessionEnding;
extern TStringList DeviceIds;

// Applies the language of the main window that owns form (directly or
// further up), if it has one loaded.
void ApplyOwnerLanguage(TForm& form);

} // namespace krv
