// Common controls: image list, progress bar, status bar with panels, and the
// page control with its tab sheets.
#pragma once
#include "framework/Controls.h"
#include <functional>
#include <string>
#include <vector>

typedef struct _IMAGELIST* HIMAGELIST;

namespace krv {

class TImageList;

// A list's user registers one of these to hear of changes to the pictures;
// it leaves the list when it goes, and the list lets go of it when the list goes.
class TChangeLink {
public:
    TChangeLink() = default;
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;
    ~TChangeLink();
    TImageList* Sender() const { return sender_; }
    std::function<void()> OnChange;
private:
    friend class TImageList;
    TImageList* sender_ = nullptr;
};

class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* owner = nullptr, int width = 16, int height = 16);
    // Over a list owned elsewhere (the system's): drawn from, never destroyed.
    TImageList(TComponent* owner, HIMAGELIST shared);
    ~TImageList() override;
    HIMAGELIST Handle() const { return shared_ ? shared_ : static_cast<HIMAGELIST>(list_.get()); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const;
    // Adds a bitmap whose pixels of maskColor are transparent; answers its index.
    int AddMasked(HBITMAP bitmap, TColor maskColor);
    // Draws an image through a canvas-sized callback: the painter draws one
    // width x height picture onto a DC; pixels left in maskColor are transparent.
    int AddPainted(const std::function<void(TCanvas& canvas)>& painter, TColor maskColor = clFuchsia);
    void Draw(HDC dc, int x, int y, int index, bool enabled = true) const;
    static constexpr TColor clFuchsia = 0xFF00FF;
    // A link registered with one list leaves it first.
    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);
protected:
    // Fired by every operation that changes the pictures.
    virtual void Change();
private:
    std::vector<TChangeLink*> links_;
    UniqueHandle<ImageListTraits> list_;
    HIMAGELIST shared_ = nullptr;
    int width_, height_;
};

class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner = nullptr);
    int Min() const { return min_; }
    int Max() const { return max_; }
    void SetRange(int min, int max);
    int Position() const { return position_; }
    void SetPosition(int position);
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
private:
    int min_ = 0, max_ = 100, position_ = 0;
};

struct TStatusPanel {
    std::string Text;
    int Width = 50;
    // Grows to hold its whole text (Width is then the least it takes).
    bool AutoSize = false;
};

class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TComponent* owner = nullptr);
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    void AddPanel(int width, const std::string& text = {});
    const std::string& PanelText(int index) const { return panels_.at(static_cast<size_t>(index)).Text; }
    void SetPanelText(int index, const std::string& text);
    void SetPanelWidth(int index, int width);
    void SetPanelAutoSize(int index, bool autoSize);
    // The width the panel has on screen (its text's when it grows with it).
    int PanelShownWidth(int index);
    // One text across the whole bar instead of the panels (menu hints).
    bool SimplePanel() const { return simplePanel_; }
    void SetSimplePanel(bool simple);
    const std::string& SimpleText() const { return simpleText_; }
    void SetSimpleText(const std::string& text);
    bool SizeGrip = true;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
private:
    void ApplyPanels();
    int TextWidth(const std::string& text);
    std::vector<TStatusPanel> panels_;
    bool simplePanel_ = false;
    std::string simpleText_;
};

class TPageControl;

// One page; its caption is the tab's text. Only the active page is shown.
class TTabSheet : public TWinControl {
public:
    explicit TTabSheet(TComponent* owner = nullptr);
    ~TTabSheet() override;
    TPageControl* PageControl() const { return pageControl_; }
    void SetPageControl(TPageControl* pageControl);
    int PageIndex() const;
    std::string Caption() const override { return caption_; }
    void SetCaption(const std::string& text) override;
protected:
    void CreateParams(TCreateParams& params) override;
private:
    friend class TPageControl;
    TPageControl* pageControl_ = nullptr;
};

class TPageControl : public TWinControl {
public:
    explicit TPageControl(TComponent* owner = nullptr);
    ~TPageControl() override;
    int PageCount() const { return static_cast<int>(pages_.size()); }
    TTabSheet* Pages(int i) const { return pages_.at(static_cast<size_t>(i)); }
    TTabSheet* ActivePage() const { return active_; }
    void SetActivePage(TTabSheet* page);
    int ActivePageIndex() const;
    void SetActivePageIndex(int index);
    TNotifyEvent OnChange;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    void AdjustClientRect(RECT& rect) override;
    bool CNNotify(NMHDR* header, LRESULT& result) override;
    virtual void DoChange();
private:
    friend class TTabSheet;
    void InsertPage(TTabSheet* page);
    void RemovePage(TTabSheet* page);
    void UpdateTab(TTabSheet* page);
    void ShowActive();
    std::vector<TTabSheet*> pages_;
    TTabSheet* active_ = nullptr;
};

// The common animation control playing one of the system's clips, or a clip
// of the program's own resources where the system lacks that clip.
enum TCommonAVI { aviNone, aviFindFolder, aviFindFile, aviFindComputer, aviCopyFiles, aviCopyFile, aviRecycleFile,
                  aviEmptyRecycle, aviDeleteFile };

class TAnimate : public TWinControl {
public:
    explicit TAnimate(TComponent* owner = nullptr);
    TCommonAVI CommonAVI() const { return commonAVI_; }
    void SetCommonAVI(TCommonAVI avi);
    // Our own clip for each common one: a resource of type "AVI" with this id
    // in the program; 0 for none.
    static int OwnClipId(TCommonAVI avi);
    bool Active() const { return active_; }
    void SetActive(bool active);
    void Play() { SetActive(true); }
    void Stop() { SetActive(false); }
    // Where the clip came from: 0 none, 1 the system, 2 our own resources.
    int ClipSource() const { return clipSource_; }
    // Tests stand in for a system without the standard clips.
    static void SetUseSystemClips(bool use);
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
private:
    void OpenClip();
    TCommonAVI commonAVI_ = aviNone;
    bool active_ = false;
    int clipSource_ = 0;
};

// A named page with its caption, added at the end of a page control.
TTabSheet* AddTabSheet(TComponent* owner, TPageControl* control, const std::string& name, const std::string& caption);

} // namespace krv
