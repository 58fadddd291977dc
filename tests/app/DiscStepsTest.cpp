#include "app/DiscSteps.h"
#include "app/FormWait.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "StandInFixture.h"
#include "CloseWays.h"
#include "framework/Dialogs.h"
#include <gtest/gtest.h>
#include <algorithm>

using namespace krv;

namespace {

struct LogLine {
    std::string msg;
    int colour, level, kind;
};

struct Box {
    std::string text, title;
    UINT flags;
};

// A temp folder holding an archive and its volumes, the console stand-ins,
// a recorded log and scripted answers to the message boxes.
class DiscStepsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application().Initialize();
        TLang english;
        LoadLanguageStrings(english);   // the texts the steps log and ask with
        temp = tools.Dir() + "temp";
        ::CreateDirectoryA(temp.c_str(), nullptr);
        SetMessageBoxHook([this](const std::string& text, const std::string& title, UINT flags) {
            boxes.push_back({text, title, flags});
            if (answers.empty()) return IDNO;
            int a = answers.front();
            answers.erase(answers.begin());
            return a;
        });
    }
    void TearDown() override { SetMessageBoxHook(nullptr); }

    TDiscSteps Steps(bool rewritable = false) {
        TDiscJob job{ProgramFolder(), temp, "My Backup.zip",
                     "1,0,0", rewritable};
        return TDiscSteps(nullptr, job, [this](const std::string& m, int c, int l, int k) { log.push_back({m, c, l, k}); });
    }
    std::string In(const std::string& name) const { return temp + "\\" + name; }
    void MakeArchive(int volumes) {
        tools.WriteFile(In("My Backup.zip"), std::string(3000, 'a'));
        for (int n = 1; n <= volumes; ++n) tools.WriteFile(In("My Backup.z" + TwoDigits(n)), std::string(100 * n, 'v'));
    }
    bool Logged(const std::string& start, int colour) const {
        return std::any_of(log.begin(), log.end(), [&](const LogLine& l) {
            return l.msg.compare(0, start.size(), start) == 0 && l.colour == colour;
        });
    }
    std::vector<std::string> CommandsOf(const std::string& program) const {
        std::vector<std::string> out;
        for (const std::string& c : tools.Calls())
            if (c.find(program) != std::string::npos) out.push_back(c);
        return out;
    }

    StandInFixture tools;
    std::string temp;
    std::vector<LogLine> log;
    std::vector<Box> boxes;
    std::vector<int> answers;
};

}  // namespace

TEST_F(DiscStepsTest, CommandLinesAreExactWithVolumesInOrderUpToTheFirstGap) {
    MakeArchive(3);
    tools.WriteFile(In("My Backup.z05"), "after a gap");
    TDiscSteps steps = Steps();
    const std::string app = ProgramFolder();
    const std::string t = ConsolePath(temp);
    EXPECT_EQ(steps.IsoCommand(), "\"" + app + "tools\\mkisofs.exe\" -V Backup -v -o \"" + t +
                                      "/KV_ISO.iso\" -R -J -iso-level 4 \"" + t + "/My Backup.zip\" \"" + t +
                                      "/My Backup.z01\" \"" + t + "/My Backup.z02\" \"" + t + "/My Backup.z03\"");
    EXPECT_EQ(steps.BlankCommand(), "\"" + app + "tools\\cdrecord.exe\" -v -gracetime=2 -dev=1,0,0 blank=fast");
    EXPECT_EQ(steps.BurnCommand(),
              "\"" + app + "tools\\cdrecord.exe\" -v -eject -gracetime=2 -dev=1,0,0 -dao speed=1 \"" + t + "/KV_ISO.iso\"");
    EXPECT_EQ(TwoDigits(7), "07");
    EXPECT_EQ(TwoDigits(100), "100");
}

TEST_F(DiscStepsTest, IsoStepBuildsTheImageFromArchiveAndVolumesThenDeletesThem) {
    MakeArchive(2);
    tools.WriteFile(In("KV_ISO.iso"), "stale image of an earlier run");
    TDiscSteps steps = Steps();
    const std::string expected = steps.IsoCommand();
    steps.MakeIso();
    EXPECT_FALSE(steps.Cancel);
    EXPECT_EQ(CommandsOf("mkisofs"), std::vector<std::string>{expected});
    // The image is real and holds the three files (its size: header + 3000 + 100 + 200 bytes in sectors).
    EXPECT_GT(FileSizeOf(In("KV_ISO.iso")), 2048 * 25);
    EXPECT_FALSE(FileExists(In("My Backup.zip")));
    EXPECT_FALSE(FileExists(In("My Backup.z01")));
    EXPECT_FALSE(FileExists(In("My Backup.z02")));
    EXPECT_TRUE(Logged(KV_ISO_Start + " [", 0));
    EXPECT_TRUE(Logged(KV_ISO_OK + " [", 2));
    EXPECT_TRUE(Logged(KV_Zip_Deleted, 0));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DiscStepsTest, IsoStepIsJudgedByTheImageFile) {
    MakeArchive(0);
    // Errors printed, but an image written: success.
    tools.Script("[mkisofs]\nerr mkisofs: Warning: something odd\niso\nexit 1\n");
    TDiscSteps ok = Steps();
    ok.MakeIso();
    EXPECT_FALSE(ok.Cancel);
    EXPECT_TRUE(FileExists(In("KV_ISO.iso")));

    // No image: error line, error box, abort, and the archive is removed all the same.
    MakeArchive(1);
    tools.Script("[mkisofs]\nout nothing written\n");
    TDiscSteps bad = Steps();
    bad.MakeIso();
    EXPECT_TRUE(bad.Cancel);
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));   // the first step's image did not pass for this one's
    EXPECT_TRUE(Logged(KV_ISO_Error + " [", 1));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, KV_ISO_Error);
    EXPECT_EQ(boxes[0].flags, 16u);
    EXPECT_FALSE(FileExists(In("My Backup.zip")));
    EXPECT_FALSE(FileExists(In("My Backup.z01")));
}

TEST_F(DiscStepsTest, ImageMakerThatCannotStartOrDiesAbortsWithARedLine) {
    MakeArchive(1);
    tools.Script("[mkisofs]\niso\ncrash\n");
    TDiscSteps died = Steps();
    died.MakeIso();
    EXPECT_TRUE(died.Cancel);
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));   // a torn image is not kept
    EXPECT_TRUE(Logged(KV_Error + ": ", 1));

    log.clear();
    MakeArchive(1);
    TDiscJob job{"C:\\no such program folder\\", temp, "My Backup.zip", "1,0,0", false};
    TDiscSteps missing(nullptr, job, [this](const std::string& m, int c, int l, int k) { log.push_back({m, c, l, k}); });
    missing.MakeIso();   // returns: the window closed by itself
    EXPECT_TRUE(missing.Cancel);
    EXPECT_TRUE(Logged(KV_Error + ": \"C:\\no such program folder\\tools\\mkisofs.exe\"", 1));
}

TEST_F(DiscStepsTest, BlankIsSkippedForWriteOnceDiscs) {
    TDiscSteps steps = Steps(false);
    steps.BlankDisc();
    EXPECT_FALSE(steps.Cancel);
    EXPECT_TRUE(tools.Calls().empty());
    EXPECT_TRUE(log.empty());
}

TEST_F(DiscStepsTest, FailedBlankAnsweredYesRepeatsAndNoRemovesTheImageAndAborts) {
    tools.WriteFile(In("KV_ISO.iso"), "image");
    tools.Script("[cdrecord blank=fast]\nout No disk / Wrong disk!\nexit 255\n"
                 "[cdrecord blank=fast]\nout Last chance to quit... starting real write in 2 seconds.\nout Blanking done\n");
    answers = {IDOK, IDYES};
    TDiscSteps steps = Steps(true);
    steps.BlankDisc();
    EXPECT_FALSE(steps.Cancel);
    EXPECT_EQ(CommandsOf("blank=fast").size(), 2u);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, KV_Format_Error);
    EXPECT_EQ(boxes[1].text, KrvChangeDiscQuestion);
    EXPECT_EQ(boxes[1].title, KV_Retry_ChangeDisk_Title);
    EXPECT_EQ(boxes[1].flags, 52u);
    EXPECT_TRUE(Logged(KV_Error + ": No disk / Wrong disk!", 1));
    EXPECT_TRUE(Logged(KV_Format_OK, 2));
    // The grace-time line shows the translated text in the echo.
    EXPECT_TRUE(Logged("= " + KV_CDR_GraceTime, 0));
    EXPECT_TRUE(FileExists(In("KV_ISO.iso")));

    tools.Script("[cdrecord blank=fast]\nout Cannot blank disk, aborting.\n");
    boxes.clear();
    answers = {IDOK, IDNO};
    TDiscSteps no = Steps(true);
    no.BlankDisc();
    EXPECT_TRUE(no.Cancel);
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
    EXPECT_FALSE(Logged(KV_ISO_Deleted, 0)) << "the failure is said; the image goes without a line";
}

TEST_F(DiscStepsTest, FailedBurnOffersChangeDiscAndRepeatsUntilItWorks) {
    tools.WriteFile(In("KV_ISO.iso"), "image");
    tools.Script("[cdrecord -dao]\nout Could not write Lead-in\n"
                 "[cdrecord -dao]\nout WARNING: Data may not fit on current disk.\n"
                 "[cdrecord -dao]\nout Track 01: 1 of 1 MB written.\nburn " + ConsolePath(In("disc.iso")) + "\n");
    answers = {IDOK, IDYES, IDOK, IDYES};
    TDiscSteps steps = Steps();
    steps.BurnIso();
    EXPECT_FALSE(steps.Cancel);
    EXPECT_EQ(CommandsOf("-dao").size(), 3u);
    EXPECT_EQ(boxes.size(), 4u);
    EXPECT_TRUE(Logged(KV_ISOBurn_OK, 2));
    EXPECT_EQ(FileSizeOf(In("disc.iso")), 5);   // the image reached the "disc" before it was deleted
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const LogLine& l) { return l.msg == KV_ISO_Deleted; }), 1);
}

TEST_F(DiscStepsTest, BurnFailureAnsweredNoAbortsAndStillDeletesTheImage) {
    tools.WriteFile(In("KV_ISO.iso"), "image");
    tools.Script("[cdrecord -dao]\nout Sorry, no CD/DVD-Recorder or unsupported CD/DVD-Recorder found on this target.\n");
    answers = {IDOK, IDNO};
    TDiscSteps steps = Steps();
    steps.BurnIso();
    EXPECT_TRUE(steps.Cancel);
    EXPECT_EQ(CommandsOf("-dao").size(), 1u);
    EXPECT_TRUE(Logged(KV_ISOBurn_Error + " [", 1));
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
}

TEST_F(DiscStepsTest, RecorderThatFailsSilentlyOrDiesIsNeverReportedAsBurned) {
    tools.WriteFile(In("KV_ISO.iso"), "image");
    tools.Script("[cdrecord -dao]\nout write failed without a known text\nexit 2\n");
    answers = {IDOK, IDNO};
    TDiscSteps silent = Steps();
    silent.BurnIso();
    EXPECT_TRUE(silent.Cancel);
    EXPECT_FALSE(Logged(KV_ISOBurn_OK, 2));

    log.clear();
    boxes.clear();
    tools.WriteFile(In("KV_ISO.iso"), "image");
    tools.Script("[cdrecord -dao]\nout Track 01\ncrash\n");
    TDiscSteps died = Steps();
    died.BurnIso();
    EXPECT_TRUE(died.Cancel);
    EXPECT_TRUE(boxes.empty());   // no disc to change: the program itself failed
    EXPECT_TRUE(Logged(KV_Error + ": ", 1));
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
}

TEST_F(DiscStepsTest, CancelConfirmedStopsTheProgramAndRemovesTheArchive) {
    MakeArchive(2);
    tools.Script("[mkisofs]\nout working\nsleep 120000\n");
    answers = {IDYES};
    TDiscSteps steps = Steps();
    steps.RunWindow = [](TFormWait& w) {
        // Press Cancel once the program is running and has spoken.
        w.OnShow = [&w](TObject*) {
            w.FormShow();
        };
        w.TimerRefresh->SetInterval(20);
        w.TimerRefresh->OnTimer = [&w](TObject*) {
            if (w.Command() && w.Command()->OutputLines().Count() > 0 && !w.UserCancelled) w.ButtonWaitCancelClick();
        };
        EXPECT_EQ(w.ShowModal(), 1);
    };
    steps.MakeIso();
    EXPECT_TRUE(steps.Cancel);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, KV_UserCancel_Confirm);
    EXPECT_EQ(boxes[0].title, KV_UserCancel_Conform_Title);
    EXPECT_TRUE(Logged(KV_UserCancel, 1));
    EXPECT_FALSE(FileExists(In("My Backup.zip")));
    EXPECT_FALSE(FileExists(In("My Backup.z01")));
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
}

// A close that reaches the console task window is Cancel without the
// question: the program is stopped and the step ends cancelled.
TEST_F(DiscStepsTest, ClosingTheTaskWindowStopsTheProgramAsCancelDoes) {
    tools.Script("[mkisofs]\nout working\nsleep 120000\n");
    for (const krvtest::CloseWay& way : krvtest::CloseWays()) {
        SCOPED_TRACE(way.name);
        MakeArchive(1);
        log.clear();
        TDiscSteps steps = Steps();
        bool icons = true;
        steps.RunWindow = [&](TFormWait& w) {
            icons = krvtest::HasBorderIcons(w.HandleNeeded());
            w.TimerRefresh->SetInterval(20);
            w.TimerRefresh->OnTimer = [&w, &way](TObject*) {
                if (w.Command() && w.Command()->OutputLines().Count() > 0 && !w.UserCancelled)
                    krvtest::PostClose(w.Handle(), way);
            };
            EXPECT_EQ(w.ShowModal(), 1);
        };
        steps.MakeIso();
        EXPECT_FALSE(icons);
        EXPECT_TRUE(steps.Cancel);
        EXPECT_TRUE(boxes.empty()) << "a close asks nothing";
        EXPECT_TRUE(Logged(KV_UserCancel, 1));
        EXPECT_FALSE(FileExists(In("My Backup.zip")));
        EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
    }
}

TEST_F(DiscStepsTest, StaleVolumesAndImageAreRemovedBeforeCompression) {
    MakeArchive(5);
    tools.WriteFile(In("KV_ISO.iso"), "old");
    TDiscSteps steps = Steps();
    steps.RemoveStaleOutput();
    EXPECT_TRUE(steps.ExistingVolumes().empty());
    EXPECT_FALSE(FileExists(In("KV_ISO.iso")));
    EXPECT_TRUE(FileExists(In("My Backup.zip")));
}

TEST_F(DiscStepsTest, EachStepPlaysItsClipBesideTheTexts) {
    MakeArchive(1);
    TDiscSteps steps = Steps(true);
    struct Seen {
        TCommonAVI avi;
        bool playing;
    };
    std::vector<Seen> seen;
    steps.RunWindow = [&](TFormWait& window) {
        for (TLabel* label : {window.LabelWaitTask, window.LabelWait2, window.LabelWaitProgress})
            EXPECT_GE(label->Left(), window.Animate->BoundsRect().right) << label->Name();
        window.ShowModal();
        seen.push_back({window.Animate->CommonAVI(), window.Animate->Active() && window.Animate->ClipSource() != 0});
    };
    steps.MakeIso();
    steps.BlankDisc();
    steps.BurnIso();
    ASSERT_FALSE(steps.Cancel);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].avi, aviCopyFiles);    // the image is made from the archive
    EXPECT_EQ(seen[1].avi, aviDeleteFile);   // blanking
    EXPECT_EQ(seen[2].avi, aviCopyFiles);    // writing
    for (const Seen& s : seen) EXPECT_TRUE(s.playing);
}

