// Forms (top-level windows with modal results and close actions), the
// application object (title, help file, message loop, exception handler)
// and window timers.
#pragma once
#include "framework/Controls.h"
#include <functional>
#include <memory>
#include <string>

namespace krv {

class TMainMenu;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TPosition { poDesigned, poScreenCenter, poMainFormCenter };
enum TFormBorderStyle { bsSizeable, bsDialog, bsSingle, bsNone };

struct TSizeConstraints {
    int MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0;
};

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner = nullptr);
    ~TForm() override;

    TPosition Position = poDesigned;
    TFormBorderStyle BorderStyle = bsSizeable;
    TSizeConstraints Constraints;

    void SetMenu(TMainMenu* menu);
    TMainMenu* Menu() const { return menu_; }

    // Shows the window (placing it on its first showing).
    void Show();
    // Shows the window modally and answers its modal result.
    int ShowModal();
    bool Modal() const { return modal_; }
    int ModalResult() const { return modalResult_; }
    // Also wakes the modal loop: a result set from a sent message (a worker's
    // synchronous call) would otherwise wait for the next posted message.
    void SetModalResult(int result) {
        modalResult_ = result;
        if (handle_) ::PostMessageA(handle_, WM_NULL, 0, 0);
    }
    // Runs the step from the message loop once the messages already queued
    // are handled, without waiting for a timer's clock. With paintFirst the
    // window and its children are painted before it; without, the step comes
    // before the paint messages, so a worker it starts runs while the
    // window paints.
    void PostStep(std::function<void()> step, bool paintFirst);
    // Asks the window to close: OnCloseQuery, then OnClose picks the action.
    void Close();
    void Minimize();
    bool Active() const;

    // A control owned by the form, by name (case-insensitive), of type T.
    template <class T> T* Find(const std::string& name) const { return dynamic_cast<T*>(FindComponent(name)); }

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    std::function<void(TObject* sender, TCloseAction& action)> OnClose;
    std::function<void(TObject* sender, bool& canClose)> OnCloseQuery;

protected:
    // A form built in code calls this at the end of its constructor.
    virtual void DoCreate();
    virtual void DoShow();
    virtual void DoHide();
    virtual void DoActivate();
    virtual void DoDeactivate();
    virtual void DoClose(TCloseAction& action);
    virtual bool CloseQuery();
    void CreateParams(TCreateParams& params) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void PlaceWindow();

private:
    bool PressDialogButton(bool cancel);
    TMainMenu* menu_ = nullptr;
    int modalResult_ = 0;
    bool modal_ = false;
    bool placed_ = false;
    std::function<void()> postedStep_;
    bool paintFirst_ = false;
};

// The form a control sits on, or null.
TForm* GetParentForm(TControl* control);

// Where a window of size goes: centred on owner when there is one (null: on
// the work area), and moved into the work area when any of it would lie
// outside (its top-left corner first when it is larger than the area).
POINT PlaceInWorkArea(const RECT* owner, SIZE size, const RECT& work);

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Common controls, the thread hand-off window and the exception handler.
    void Initialize();
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    std::string HelpFile;
    // Shows the help topic: OnHelp first (true: shown), else the help file's topic.
    bool HelpContext(int context);
    std::function<bool(int context)> OnHelp;
    // The hint of what the mouse or the menu selection is on; OnHint shows it.
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    TNotifyEvent OnHint;
    // The first form shown by Run; closing it ends the message loop.
    TForm* MainForm = nullptr;
    // Runs the message loop until Terminate; shows MainForm first.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    void ProcessMessages();
    void Minimize();
    void Restore();
    // Where an exception from a message handler goes; logs through OnException
    // when set, else shows it in a message box. The program keeps running.
    void HandleException(const std::exception_ptr& e);
    std::function<void(TObject* sender, const std::string& message)> OnException;

    // One pass of the loop: takes one message (waiting when wait is true),
    // answers false on WM_QUIT.
    bool HandleOneMessage(bool wait);

protected:
    virtual void DoHint();

private:
    std::string title_;
    std::string hint_;
    bool terminated_ = false;
};

TApplication& Application();

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr);
    ~TTimer() override;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned ms);
    TNotifyEvent OnTimer;
protected:
    virtual void DoTimer();
private:
    void UpdateTimer();
    std::unique_ptr<TMessageWindow> window_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
};

} // namespace krv
