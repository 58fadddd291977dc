#include "shell/base/WideControls.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <utility>
#include <vector>

namespace krv {

namespace {
// Every holder, so a control's holder is found without a search of its components.
std::vector<TWideCaptionHolder*>& Holders() {
    static std::vector<TWideCaptionHolder*> holders;
    return holders;
}

bool UnicodeWindowOf(TControl* control, HWND& wnd) {
    auto* win = dynamic_cast<TWinControl*>(control);
    wnd = win && win->HandleAllocated() ? win->Handle() : nullptr;
    return wnd && ::IsWindowUnicode(wnd);
}

std::wstring WindowTextW(HWND wnd) {
    int len = ::GetWindowTextLengthW(wnd);
    std::wstring s(static_cast<size_t>(len) + 1, L'\0');
    int got = ::GetWindowTextW(wnd, s.data(), len + 1);
    s.resize(static_cast<size_t>(std::max(0, got)));
    return s;
}
} // namespace

TWideCaptionHolder::TWideCaptionHolder(TControl* control) : TComponent(control), control_(control) {
    Holders().push_back(this);
}

TWideCaptionHolder::~TWideCaptionHolder() {
    auto& h = Holders();
    h.erase(std::remove(h.begin(), h.end(), this), h.end());
}

TWideCaptionHolder* TWideCaptionHolder::Find(TControl* control) {
    for (TWideCaptionHolder* h : Holders())
        if (h->control_ == control) return h;
    return nullptr;
}

TWideCaptionHolder* TWideCaptionHolder::For(TControl* control) {
    TWideCaptionHolder* h = Find(control);
    return h ? h : new TWideCaptionHolder(control);
}

std::wstring WideGetText(TControl* control) {
    HWND wnd;
    if (UnicodeWindowOf(control, wnd)) return WindowTextW(wnd);
    std::string ansi = control->Caption();
    if (TWideCaptionHolder* h = TWideCaptionHolder::Find(control))
        if (WideToAnsi(h->Caption) == ansi) return h->Caption;
    return AnsiToWide(ansi);
}

void WideSetText(TControl* control, const std::wstring& text) {
    HWND wnd;
    if (UnicodeWindowOf(control, wnd)) {
        ::SetWindowTextW(wnd, text.c_str());
        return;
    }
    TWideCaptionHolder::For(control)->Caption = text;
    control->SetCaption(WideToAnsi(text));
}

int CompareWideStrings(const std::wstring& a, const std::wstring& b) {
    if (IsWinNT())
        return ::CompareStringW(LOCALE_USER_DEFAULT, 0, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size())) - CSTR_EQUAL;
    std::string x = WideToAnsi(a), y = WideToAnsi(b);
    return ::CompareStringA(LOCALE_USER_DEFAULT, 0, x.c_str(), static_cast<int>(x.size()), y.c_str(),
                            static_cast<int>(y.size())) - CSTR_EQUAL;
}

void PostSetSelection(HWND wnd, int start, int end) {
    if (::IsWindowUnicode(wnd)) ::PostMessageW(wnd, EM_SETSEL, static_cast<WPARAM>(start), end);
    else ::PostMessageA(wnd, EM_SETSEL, static_cast<WPARAM>(start), end);
}

bool WideEditReadOnlyByMessage = false;

std::string WideControlsFontName(const TOSVersion& version) {
    return IsWinNT(version) && version.MajorVersion >= 5 ? "MS Shell Dlg 2" : "MS Shell Dlg";
}

void StartWideControls() {
    static bool started = false;
    if (std::exchange(started, true)) return;
    TFont::SetDefaultName(WideControlsFontName(CurrentOSVersion()));
}

namespace {
// At program start: every font made, not only those after the first wide
// control, takes the system's dialog face.
[[maybe_unused]] const bool wideControlsStarted = (StartWideControls(), true);
} // namespace

void SubClassUnicodeControl(TWinControl* control) {
    HWND wnd = control && control->HandleAllocated() ? control->Handle() : nullptr;
    if (!wnd || !::IsWindowUnicode(wnd) || !control->UnicodeWindow())
        throw Exception("Wide Control Internal Error: SubClassUnicodeControl.Control is not Unicode.");
    StartWideControls();
    // Dialog-style code finds a child by its identifier: never leave it 0.
    if ((::GetWindowLongPtrW(wnd, GWL_STYLE) & WS_CHILD) && ::GetWindowLongPtrW(wnd, GWLP_ID) == 0)
        ::SetWindowLongPtrW(wnd, GWLP_ID, reinterpret_cast<LONG_PTR>(wnd));
}

TCustomWideEdit::TCustomWideEdit(TComponent* owner) : TEdit(owner) { StartWideControls(); }

void TCustomWideEdit::CreateParams(TCreateParams& params) {
    TEdit::CreateParams(params);
    params.Unicode = IsWinNT();
    readOnlyByMessage_ = !params.Unicode && WideEditReadOnlyByMessage && (params.Style & ES_READONLY);
    if (readOnlyByMessage_) params.Style &= ~DWORD(ES_READONLY);
}

void TCustomWideEdit::SetInitialText() {
    if (!text_.empty()) WideSetText(this, text_);
}

void TCustomWideEdit::CreateHandleDone() {
    TEdit::CreateHandleDone();
    if (UnicodeWindow()) SubClassUnicodeControl(this);
    if (readOnlyByMessage_) ::SendMessageA(Handle(), EM_SETREADONLY, 1, 0);
}

std::wstring TCustomWideEdit::Text() const {
    return HandleAllocated() ? WideGetText(const_cast<TCustomWideEdit*>(this)) : text_;
}

void TCustomWideEdit::SetText(const std::wstring& text) {
    text_ = text;
    if (HandleAllocated()) WideSetText(this, text);
}

bool TCustomWideEdit::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Keep the text for a window made again later.
    if (msg == WM_DESTROY) text_ = WideGetText(this);
    return TEdit::HandleMessage(msg, wParam, lParam, result);
}

} // namespace krv
