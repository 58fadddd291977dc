// The report viewer: the report of the last run as held in memory.
#pragma once
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

namespace krv {

class TFormViewLog : public TForm {
public:
    explicit TFormViewLog(TComponent* owner = nullptr);
    void FormShow();
    TMemo* MemoLog = nullptr;
    TButton* ButtonClose = nullptr;
};

} // namespace krv
