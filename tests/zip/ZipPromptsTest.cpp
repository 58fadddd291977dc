// The archiver's own prompts when the program assigns no handler (the
// overwrite question with its "to all" answers, the password input box), and
// the system's words behind an archive error.
#include "ZipTestUtil.h"
#include "framework/Dialogs.h"
#include "zip/ZipArchiver.h"
#include <gtest/gtest.h>

using namespace krv;
using namespace ziptest;

namespace {

std::string TextOf(HWND wnd) {
    char text[512] = {};
    ::GetWindowTextA(wnd, text, sizeof text);
    return text;
}

// Answers every prompt with one button and records each prompt's text.
struct Prompts {
    explicit Prompts(int answer, const char* typed = nullptr) {
        SetDialogShownHook([this, answer, typed](HWND dialog) {
            std::string shown;
            for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
                if (::GetDlgCtrlID(c) == 0xFFFF || ::GetDlgCtrlID(c) == -1) shown = TextOf(c);
            texts.push_back(TextOf(dialog) + "|" + shown);
            if (HWND edit = ::GetDlgItem(dialog, idInputEdit); edit && typed) ::SetWindowTextA(edit, typed);
            ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        });
    }
    ~Prompts() { SetDialogShownHook(nullptr); }
    std::vector<std::string> texts;
};

class PasswordArchiver : public TZipArchiver {
public:
    using TZipArchiver::DoPassword;
};

// Adds every file of the folder to the archive, with the overwrite mode given.
void AddFolder(TZipArchiver& z, const std::string& archive, const std::string& folder, TZipOverwriteMode mode) {
    z.FileName = archive;
    z.BaseDir = folder;
    z.Options.OverwriteMode = mode;
    z.BeginUpdate();
    z.FileMasks().Clear();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    z.CloseArchive();
}

} // namespace

TEST(ZipPrompts, OverwriteQuestionOffersYesAndNoToAll) {
    TScratch s;
    const std::string folder = s.Folder("src");
    for (const char* f : {"src\\a.txt", "src\\b.txt", "src\\c.txt"}) s.Write(f, Pattern(100, 1));
    const std::string archive = s.Path("out.zip");
    {
        TZipArchiver z;
        AddFolder(z, archive, folder, omAlways);
    }
    struct Case {
        int answer;
        size_t prompts;
        TZipOverwriteMode after;
    } cases[] = {{idYesToAll, 1, omAlways}, {idNoToAll, 1, omNever}, {IDYES, 3, omPrompt}, {IDNO, 3, omPrompt}};
    for (const Case& c : cases) {
        Prompts prompts(c.answer);
        TZipArchiver z;
        AddFolder(z, archive, folder, omPrompt);
        ASSERT_EQ(prompts.texts.size(), c.prompts) << c.answer;
        EXPECT_EQ(prompts.texts[0].substr(0, 30), "Confirm|Overwrite file \"a.txt\"") << prompts.texts[0];
        EXPECT_EQ(z.Options.OverwriteMode, c.after) << c.answer;
    }
}

TEST(ZipPrompts, PasswordIsAskedInAnInputBoxAndCancelSkipsTheFile) {
    PasswordArchiver z;
    std::string password;
    bool skip = true;
    {
        Prompts prompts(IDOK, "geheim");
        z.DoPassword("C:\\data\\x.txt", password, skip);
        ASSERT_EQ(prompts.texts.size(), 1u);
        EXPECT_EQ(prompts.texts[0], "Password for \"C:\\data\\x.txt\"|Enter password: ");
    }
    EXPECT_EQ(password, "geheim");
    EXPECT_FALSE(skip);
    Prompts cancel(IDCANCEL, "other");
    z.DoPassword("y.txt", password, skip);
    EXPECT_TRUE(skip);
    EXPECT_EQ(password, "geheim");
}

// Without a failure handler the user confirms what happens to a file.
TEST(ZipPrompts, FailingFileIsAskedInAConfirmation) {
    TScratch s;
    s.Write("gone.bin", "soon gone");
    Prompts prompts(IDIGNORE);
    TZipArchiver z;
    z.PrefetchWorkers = 0;   // nothing reads the file before it is gone
    z.FileName = s.Path("asks.zip");
    z.BeginUpdate();
    z.FileMasks().Add(s.Path("gone.bin"));
    z.AddFiles();
    s.Delete("gone.bin");
    z.EndUpdate();
    ASSERT_EQ(prompts.texts.size(), 1u);
    EXPECT_EQ(prompts.texts[0].substr(0, 8), "Confirm|") << prompts.texts[0];
    EXPECT_EQ(z.Count(), 0);
}

TEST(ZipErrors, AnErrorWithASystemCauseGivesTheSystemsWords) {
    TScratch s;
    TZipArchiver z;
    z.SetName("Archiver");
    z.FileName = s.Path("no_such_folder\\out.zip");
    try {
        z.OpenArchive(fmCreate);
        FAIL();
    } catch (const EZipException& e) {
        EXPECT_EQ(e.NativeError, 19);
        EXPECT_EQ(e.SystemError, static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));
        const std::string what = e.what();
        // The message keeps its fixed form; the description adds the cause.
        EXPECT_EQ(what.rfind(" - Native error: 00019"), what.size() - 22) << what;
        EXPECT_EQ(DescribeError(e), what + " (" + SysErrorMessage(ERROR_PATH_NOT_FOUND) + ")");
    }
    // An error without a system cause is described by its message alone.
    EZipException plain(13, nullptr);
    EXPECT_EQ(DescribeError(plain), plain.what());
    std::runtime_error other("x");
    EXPECT_EQ(DescribeError(other), "x");
}
