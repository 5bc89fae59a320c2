// The windowed program's command line: what each parameter means, the
// settings parsers, and the program run as a real process with its
// switches.
#include "app/cli.h"
#include "platform/settings.h"
#include "app/switches.h"

#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace quillard {
namespace {

struct ParamCase {
    const char* Name;
    const char* Param;
    TSwitch Meaning;
};

class ParameterTest : public ::testing::TestWithParam<ParamCase> {};

TEST_P(ParameterTest, ParameterMeansWhatTheListSays)
{
    EXPECT_EQ(ClassifyParameter(GetParam().Param), GetParam().Meaning);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ParameterTest,
    ::testing::Values(ParamCase{"Delete", "/DELETE", TSwitch::Delete}, ParamCase{"Del", "/del", TSwitch::Delete},
                      ParamCase{"D", "/d", TSwitch::Delete}, ParamCase{"GnuDelete", "--delete", TSwitch::Delete},
                      ParamCase{"RegSvr", "/RegSvr", TSwitch::Register}, ParamCase{"Reg", "/REG", TSwitch::Register},
                      ParamCase{"R", "/R", TSwitch::Register}, ParamCase{"UnregSvr", "/UNREGSVR", TSwitch::Unregister},
                      ParamCase{"Unreg", "/unreg", TSwitch::Unregister}, ParamCase{"U", "/U", TSwitch::Unregister},
                      ParamCase{"Preview", "/PREVIEW", TSwitch::Preview}, ParamCase{"View", "/View", TSwitch::Preview},
                      ParamCase{"V", "/V", TSwitch::Preview}, ParamCase{"GnuPreview", "--PREVIEW", TSwitch::Preview},
                      ParamCase{"Print", "/PRINT", TSwitch::Print}, ParamCase{"P", "/p", TSwitch::Print},
                      ParamCase{"GnuPrint", "--print", TSwitch::Print},
                      ParamCase{"AbsolutePath", "/home/ann/QUILLARD.TXT", TSwitch::ReportPath},
                      ParamCase{"RootFolderPath", "/D/REPORT.TXT", TSwitch::ReportPath},
                      ParamCase{"UnlistedSlashWord", "/X", TSwitch::ReportPath},
                      ParamCase{"RelativePath", "QUILLARD.TXT", TSwitch::ReportPath},
                      ParamCase{"HttpAddress", "http://host/r.txt", TSwitch::ReportPath},
                      ParamCase{"DashDelete", "-DELETE", TSwitch::Ignored}, ParamCase{"DashEmbedding", "-Embedding", TSwitch::Ignored},
                      ParamCase{"Empty", "", TSwitch::Ignored}),
    [](const auto& info) { return std::string(info.param.Name); });

struct RouteCase {
    const char* Name;
    std::vector<std::string> Args;
    TCommandLine::TMode Mode;
};

class RouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteTest, CommandLineGoesToTheWindowOrTheHeadlessOptions)
{
    const TCommandLine cl = ParseCommandLine(GetParam().Args);
    EXPECT_EQ(cl.Error, "");
    EXPECT_EQ(cl.Mode, GetParam().Mode);
}

using M = TCommandLine::TMode;
INSTANTIATE_TEST_SUITE_P(
    Routes, RouteTest,
    ::testing::Values(RouteCase{"Nothing", {}, M::Gui}, RouteCase{"ReportOnly", {"r.txt"}, M::Gui},
                      RouteCase{"SlashPrint", {"/PRINT", "r.txt"}, M::Gui},
                      RouteCase{"GnuPrintAloneIsTheHeadlessJob", {"--print", "r.txt"}, M::Print},
                      RouteCase{"GnuPrintWithPreview", {"--print", "--preview", "r.txt"}, M::Gui},
                      RouteCase{"GnuPrintWithSlashDelete", {"r.txt", "--print", "/D"}, M::Gui},
                      RouteCase{"GnuDelete", {"--delete", "r.txt"}, M::Gui},
                      RouteCase{"PrintToANamedPrinter", {"--print", "--printer", "P1", "r.txt"}, M::Print},
                      RouteCase{"Picture", {"--png", "p.png", "r.txt"}, M::Png},
                      RouteCase{"Count", {"--count-pages", "r.txt"}, M::CountPages},
                      RouteCase{"Printers", {"--list-printers"}, M::ListPrinters}),
    [](const auto& info) { return std::string(info.param.Name); });

// The options that take a value take it after an equals sign too.
TEST(Routes, ValueOptionsTakeTheirValueAfterAnEqualsSign)
{
    const TCommandLine png = ParseCommandLine({"--png=p.png", "--page=3", "--zoom=150", "r.txt"});
    EXPECT_EQ(png.Error, "");
    EXPECT_EQ(png.Mode, M::Png);
    EXPECT_EQ(png.Output, "p.png");
    EXPECT_EQ(png.Page, 3);
    EXPECT_EQ(png.Zoom, 150);
    const TCommandLine print = ParseCommandLine({"--print", "--printer=P1", "--copies=2", "--option=media=A4", "r.txt"});
    EXPECT_EQ(print.Error, "");
    EXPECT_EQ(print.Mode, M::Print);
    EXPECT_EQ(print.Printer, "P1");
    EXPECT_EQ(print.Copies, 2);
    ASSERT_EQ(print.JobOptions.size(), 1u);
    EXPECT_EQ(print.JobOptions[0], std::make_pair(std::string("media"), std::string("A4")));
    EXPECT_EQ(ParseCommandLine({"--pdf=", "r.txt"}).Error, "--pdf needs the name of the PDF file to write, not \"\"");
    EXPECT_EQ(ParseCommandLine({"--zoom=big", "--png", "p.png", "r.txt"}).Error,
              "--zoom needs a percentage from 1 to 1000, not \"big\"");
}

TEST(Routes, UnknownLongOptionOfTheWindowIsAnError)
{
    EXPECT_EQ(ParseCommandLine({"--frobnicate", "r.txt"}).Error, "unknown option --frobnicate");
    EXPECT_EQ(ParseCommandLine({"--delete", "--png", "p.png", "r.txt"}).Error, "unknown option --delete");
}

TEST(StartSwitches, AutomationSwitchesAreFoundAnywhereWithEitherSign)
{
    TStartSwitches s = ParseStartSwitches({"REPORT.TXT", "-Embedding", "/noregserver"});
    EXPECT_TRUE(s.Automation);
    EXPECT_TRUE(s.NoRegServer);
    EXPECT_FALSE(s.RegServer);
    s = ParseStartSwitches({"/AUTOMATION"});
    EXPECT_TRUE(s.Automation);
    s = ParseStartSwitches({"-RegServer"});
    EXPECT_TRUE(s.RegServer);
    s = ParseStartSwitches({"/UNREGSERVER"});
    EXPECT_TRUE(s.UnregServer);
    s = ParseStartSwitches({"--embedding", "EMBEDDING", "/REGSERVERS"});
    EXPECT_FALSE(s.Automation);
    EXPECT_FALSE(s.RegServer);
}

TEST(StartSwitches, HttpAddressesInAnyLetterCase)
{
    EXPECT_TRUE(IsHttpAddress("HTTP://host/r.txt"));
    EXPECT_TRUE(IsHttpAddress("http://host/r.txt"));
    EXPECT_TRUE(IsHttpAddress("hTTp://"));
    EXPECT_TRUE(IsHttpAddress("https://host/r.txt"));
    EXPECT_FALSE(IsHttpAddress("/tmp/http://x"));
}

TEST(SettingValues, ZoomLevelAndYes)
{
    bool replaced = true;
    EXPECT_EQ(ParseZoomLevel("150", 75, &replaced), 150);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(ParseZoomLevel("301", 75, &replaced), 70);
    EXPECT_TRUE(replaced);
    EXPECT_EQ(ParseZoomLevel("", 75), 75);
    EXPECT_EQ(ParseZoomLevel(" 90", 75), 75);
    EXPECT_EQ(ParseZoomLevel("090%", 75), 90);
    EXPECT_TRUE(SettingIsYes("yEs"));
    EXPECT_FALSE(SettingIsYes("Yes "));
    EXPECT_FALSE(SettingIsYes("Y"));
}

// ---- the program as a process ------------------------------------------------

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

TRun Quillard(const QStringList& Args, bool Offscreen, const QString& ConfigHome, const QString& CupsServer = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (Offscreen)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", ConfigHome);
    // Registration goes beside the settings, and no bus of this machine is
    // touched.
    env.insert("XDG_DATA_HOME", ConfigHome + "-data");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    if (!CupsServer.isEmpty())
        env.insert("CUPS_SERVER", CupsServer);
    p.setProcessEnvironment(env);
    p.start(QUILLARD_BINARY, Args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    TRun r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().toStdString();
    r.Err = p.readAllStandardError().toStdString();
    return r;
}

class ProgramTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Report;
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Report = Dir.filePath("REPORT.TXT");
        std::ofstream(Report.toStdString(), std::ios::binary) << "Page one\r\n\fPage two\r\n";
    }
};

TEST_F(ProgramTest, PrintSwitchWithoutAPrinterEndsWithFailureAndDeletesOnRequest)
{
    QTemporaryDir noSpooler;
    TRun r = Quillard({Report, "/PRINT", "/D"}, true, Dir.filePath("config"), noSpooler.filePath("none.sock"));
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_NE(r.Err.find("Error Printing Document!"), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(Report.toStdString()));
    // The settings were written at the end.
    EXPECT_TRUE(std::filesystem::exists(Dir.filePath("config/Merrowgate/Quillard.conf").toStdString()));
}

TEST_F(ProgramTest, WithoutADisplayThePreviewRefusesToStart)
{
    TRun r = Quillard({Report}, false, Dir.filePath("config"));
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("no display"), std::string::npos) << r.Err;
    EXPECT_TRUE(std::filesystem::exists(Report.toStdString()));
}

TEST_F(ProgramTest, UnattendedWithoutAReportEndsInsteadOfAsking)
{
    TRun r = Quillard({"/P"}, true, Dir.filePath("config"));
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("no report named"), std::string::npos) << r.Err;
}

TEST_F(ProgramTest, RegServerAndUnregServerEndAtOnce)
{
    const std::string service =
        Dir.filePath("config-data/dbus-1/services/com.merrowgate.Quillard.service").toStdString();
    TRun r = Quillard({"-RegServer"}, false, Dir.filePath("config"));
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(std::filesystem::exists(service));
    r = Quillard({"/UNREGSERVER"}, false, Dir.filePath("config"));
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(service));
}

TEST_F(ProgramTest, UnknownLongOptionIsAnError)
{
    TRun r = Quillard({"--pirnt", Report}, true, Dir.filePath("config"));
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("unknown option --pirnt"), std::string::npos) << r.Err;
}

TEST_F(ProgramTest, HeadlessOptionsStillWork)
{
    TRun r = Quillard({"--count-pages", Report}, false, Dir.filePath("config"));
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "2\n");
}

}  // namespace
}  // namespace quillard
