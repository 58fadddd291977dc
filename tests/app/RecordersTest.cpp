#include "app/Lang.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/Recorders.h"
#include "StandInFixture.h"
#include "framework/Dialogs.h"
#include <gtest/gtest.h>
#include <algorithm>

using namespace krv;

namespace {

const char* kTwoDrives =
    "Cdrecord-Clone 3.0 \n"
    "scsibus0:\n"
    "\t0,0,0\t  0) 'PLEXTOR ' 'CD-R   PX-W4824A' '1.04' Removable CD-ROM\n"
    "\t0,1,0\t  1) *\n"
    "\t0,2,0\t  2) 'ATA     ' 'ST3200822A      ' '3.01' Disk\n"
    "scsibus1:\n"
    "\t1,0,0\t100) 'HL-DT-ST' 'DVDRAM GSA-4163B' 'A102' Removable CD-ROM\n"
    "\t1,1,0\t101) *\n";

// A program folder whose tools folder holds the stand-ins.
class RecordersTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application().Initialize();
        TLang english;
        LoadLanguageStrings(english);
        appDir = tools.Dir() + "app\\";
        ::CreateDirectoryA(appDir.c_str(), nullptr);
        ::CreateDirectoryA((appDir + "tools").c_str(), nullptr);
        for (const char* f : {"mkisofs.exe", "cdrecord.exe", "cygwin1.dll"})
            ::CopyFileA((StandInFixture::ToolsDir() + f).c_str(), (appDir + "tools\\" + f).c_str(), FALSE);
    }
    std::vector<std::string> Report(TMainForm& f) const { return f.ReportLines.ToVector(); }
    bool Has(TMainForm& f, const std::string& line) const {
        auto r = Report(f);
        return std::find(r.begin(), r.end(), line) != r.end();
    }
    StandInFixture tools;
    std::string appDir;
};

}  // namespace

TEST(ScanBusParse, KeepsCdAndDvdDevicesInListingOrderAndSkipsDisksAndEmptySlots) {
    auto found = ParseScanBus(kTwoDrives);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Address, "0,0,0");
    EXPECT_EQ(found[0].Text, "0,0,0   0) 'PLEXTOR ' 'CD-R   PX-W4824A' '1.04' Removable CD-ROM");
    EXPECT_EQ(found[1].Address, "1,0,0");
}

TEST(ScanBusParse, OutputWithoutABusGivesNothingAndGarbageNeverCrashes) {
    EXPECT_TRUE(ParseScanBus("").empty());
    EXPECT_TRUE(ParseScanBus("\t0,0,0\t  0) 'PLEXTOR ' 'CD-R' Removable CD-ROM\n").empty());
    EXPECT_TRUE(ParseScanBus("scsibus").empty());
    std::string text = kTwoDrives;
    unsigned rng = 7;
    for (int round = 0; round < 2000; ++round) {
        std::string m = text;
        for (int k = 0; k < 4; ++k) {
            rng = rng * 1103515245u + 12345u;
            size_t at = rng % (m.size() + 1);
            char c = "\n\t'scibuCDV0,"[(rng >> 16) % 12];
            if ((rng >> 8) & 1) m.insert(at, 1, c); else if (at < m.size()) m.erase(at, 1);
        }
        for (const auto& r : ParseScanBus(m)) EXPECT_EQ(r.Address.size(), 5u);
    }
}

TEST_F(RecordersTest, OnlyDrivesThatPassTheirCheckEnterTheCombo) {
    tools.Script(std::string("[cdrecord --scanbus]\n") +
                 "out Cdrecord-Clone 3.0\nout scsibus0:\n"
                 "out \\t0,0,0\\t  0) 'PLEXTOR ' 'CD-R   PX-W4824A' '1.04' Removable CD-ROM\n"
                 "out \\t0,1,0\\t  1) 'HL-DT-ST' 'DVDRAM GSA-4163B' 'A102' Removable CD-ROM\n"
                 "out \\t0,2,0\\t  2) 'SONY    ' 'DVD RW DRU-810A ' '1.0a' Removable CD-ROM\n"
                 "[cdrecord -dev=0,0,0 -checkdrive]\n"
                 "out Sorry, no CD/DVD-Recorder or unsupported CD/DVD-Recorder found on this target.\nexit 255\n"
                 "[cdrecord -dev=0,1,0 -checkdrive]\nout Device type    : Removable CD-ROM\n"
                 "[cdrecord -dev=0,2,0 -checkdrive]\nout Device type    : Removable CD-ROM\n");
    TMainForm form(appDir, {});
    ScanBus(form);
    ASSERT_EQ(form.DeviceCombo->ItemCount(), 2);
    EXPECT_NE(form.DeviceCombo->Item(0).find("DVDRAM"), std::string::npos);
    EXPECT_EQ(form.DeviceCombo->ItemIndex(), 0);
    EXPECT_EQ(form.DeviceIds.ToVector(), (std::vector<std::string>{"0,1,0", "0,2,0"}));
    EXPECT_TRUE(form.DevicesFound);
    EXPECT_FALSE(form.NoBurner);
    // The scan, then one check per candidate, in listing order, exactly so.
    const std::string cdr = "\"" + appDir + "tools\\cdrecord.exe\"";
    EXPECT_EQ(tools.Calls(), (std::vector<std::string>{cdr + " --scanbus", cdr + " -dev=0,0,0 -checkdrive",
                                                       cdr + " -dev=0,1,0 -checkdrive", cdr + " -dev=0,2,0 -checkdrive"}));
}

TEST_F(RecordersTest, NoRecorderDisablesDiscBackupWithTheHardDiskOnlyMessage) {
    tools.Script("[cdrecord --scanbus]\nout scsibus0:\nout \\t0,0,0\\t  0) *\n");
    TMainForm form(appDir, {});
    form.Session.Log = 3;
    ScanBus(form);
    EXPECT_EQ(form.DeviceCombo->ItemCount(), 0);
    EXPECT_EQ(form.DeviceIds.Count(), 0);
    EXPECT_TRUE(form.NoBurner);
    EXPECT_EQ(form.Mode, bmHardDisk);
    EXPECT_FALSE(form.DevicesFound);
    EXPECT_FALSE(form.CheckRW->Enabled());
    EXPECT_FALSE(form.DeviceCombo->Enabled());
    EXPECT_TRUE(Has(form, "0" + KV_CDR_NumDevice + "!"));
    EXPECT_TRUE(Has(form, KrvNoRecorderMessage));
}

TEST_F(RecordersTest, MissingRecorderProgramEndsTheScanWithoutHanging) {
    ::DeleteFileA((appDir + "tools\\cdrecord.exe").c_str());
    TMainForm form(appDir, {});
    form.Session.Log = 3;
    ScanBus(form);
    EXPECT_TRUE(form.NoBurner);
    auto r = Report(form);
    EXPECT_TRUE(std::any_of(r.begin(), r.end(), [](const std::string& l) { return l.find("doesn't exist.") != std::string::npos; }));
}
