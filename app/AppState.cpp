#include "app/AppState.h"
#include "app/Main.h"

namespace krv {

TKorvaneState& KorvaneState() {
    static TKorvaneState state;
    return state;
}

void ApplyOwnerLanguage(TForm& form) {
    for (TComponent* o = form.Owner(); o; o = o->Owner())
        if (auto* main = dynamic_cast<TMainForm*>(o)) {
            if (main->Lang) main->Lang->ApplyToForm(form);
            return;
        }
}

} // namespace krv
