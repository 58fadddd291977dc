// What the windows of the program share without needing the main window's
// whole declaration: the program-wide flags and the main form's language.
#pragma once

namespace krv {

class TForm;

// Program-wide state shared with the run, the mail and the batch mode: one
// per process, reached through KorvaneState().
struct TKorvaneState {
    // A session file runs from the command line: nothing waits for a person.
    bool Batch = false;
    // The report mail is under way; a close asked for meanwhile waits for its end.
    bool MailBusy = false;
    bool CloseWhenMailDone = false;
    // Windows is ending the session: a run stops at once, nothing waits for a person.
    bool SessionEnding = false;
};

TKorvaneState& KorvaneState();

// Applies the language of the main window that owns form (directly or
// further up), if it has one loaded.
void ApplyOwnerLanguage(TForm& form);

} // namespace krv
