// The program's own facts: its version, its switches, its temporary files.
#include "platform/program.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <sys/stat.h>

namespace quillard::test {
namespace {

TEST(ProgramHelpers, ShortVersions)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1.52.0.3", "1.52"}, {"2.1b", "2.1"}, {"3", "3"}, {"10.0", "10.0"}, {".5.1", ".5"}, {"Error Getting File Version Info", ""}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ShortVersion(in), out) << in;
    EXPECT_EQ(ProgramVersionText(), ShortVersion(QUILLARD_VERSION));
    EXPECT_EQ(FileVersionValue("NoSuchValue"), "Error Getting File Version Value");
}

TEST(ProgramHelpers, SwitchesTakeEitherPrefixAndAnyCase)
{
    SetProgramArguments({"report.txt", "/print", "-PREVIEW", "DELETE", ""});
    EXPECT_TRUE(HasSwitch("PRINT"));
    EXPECT_TRUE(HasSwitch("preview"));
    EXPECT_FALSE(HasSwitch("DELETE"));
    EXPECT_FALSE(HasSwitch("REPORT.TXT"));
    SetProgramArguments({});
}

TEST(ProgramHelpers, TemporaryFilesAreCreatedPrivatelyAndNeverReused)
{
    QTemporaryDir dir;
    setenv("TEMP", dir.path().toLocal8Bit().constData(), 1);
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        const std::string name = MakeTempFileName();
        ASSERT_FALSE(name.empty());
        const QFileInfo info(QString::fromStdString(name));
        EXPECT_EQ(info.absolutePath(), QDir(dir.path()).absolutePath());
        EXPECT_TRUE(info.fileName().startsWith("QX") && info.fileName().endsWith(".TMP"));
        struct stat st {};
        ASSERT_EQ(::lstat(name.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 50u);
    setenv("TEMP", "/nonexistent/folder", 1);
    EXPECT_EQ(MakeTempFileName(), "");
    unsetenv("TEMP");
}

}  // namespace
}  // namespace quillard::test
