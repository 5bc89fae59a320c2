// What a page pass holds and makes whatever the report says: lines are read
// in pieces of at most a megabyte, a tag that never closes ends after 16
// megabytes, Roman page numbers of a million and more are written in digits,
// and the fields of a pass make no more text than the report justifies. Each
// limit is said once per pass, and the pass goes on.
#include "tests/pdftestutil.h"
#include "tests/testutil.h"

#include "base/bytefile.h"
#include "engine/globals.h"

namespace quillard::test {
namespace {

class PassLimitsTest : public EngineTest {
protected:
    // The texts of the messages shown, one per line, each under its caption.
    std::string Said() const
    {
        std::string s;
        for (const auto& m : Services.Messages)
            s += m.Caption + ": " + m.Text + "\n";
        return s;
    }

    std::string PdfOf(const std::string& Report)
    {
        R->OpenFile(Write(Report), nullptr);
        const std::string out = Dir.filePath("out.pdf").toStdString();
        EXPECT_EQ(R->MakePDF(nullptr, out), 0) << Globals().LastErrorMessage;
        return PdfText(out);
    }
};

TEST_F(PassLimitsTest, ALongLineIsReadInPiecesAndSaidOnce)
{
    TByteFile file;
    file.Open(Write(std::string(2500, 'x') + "\r\nnext\r\n"));
    std::string line, lineEnd;
    R->GetLn(file, line, lineEnd, tRenderer::TLineReading{false, 1000});
    EXPECT_TRUE(R->Pass.LineTooLong);
    EXPECT_EQ(line.size(), 1000u);
    EXPECT_EQ(lineEnd, "");
    R->GetLn(file, line, lineEnd, tRenderer::TLineReading{false, 1000});
    R->GetLn(file, line, lineEnd, tRenderer::TLineReading{false, 1000});
    EXPECT_FALSE(R->Pass.LineTooLong);
    EXPECT_EQ(line.size(), 500u);
    EXPECT_EQ(lineEnd, "\r\n");

    // Three megabytes on one line, twice: the pass reads them in pieces of
    // a megabyte, says so once and lays the rest out.
    const std::string report = std::string(3 << 20, 'x') + "\r\n" + std::string(3 << 20, 'y') + "\r\nLast line\r\n";
    const std::string text = PdfOf(report);
    EXPECT_NE(text.find("Last line"), std::string::npos);
    ASSERT_EQ(Services.Messages.size(), 1u) << Said();
    EXPECT_EQ(Services.Messages[0].Caption, "Error tRenderer.GetLn");
    EXPECT_NE(Services.Messages[0].Text.find("longer than 1 MB"), std::string::npos);
}

// A brace that never closes used to take the rest of the report into one
// tag: it ends after 16 megabytes, and the lines after that are lines again.
TEST_F(PassLimitsTest, ATagThatNeverClosesEndsAfterSixteenMegabytes)
{
    std::string report = "Before\r\n{B";
    for (int i = 0; report.size() < (19u << 20); ++i)
        report += " attribute" + std::to_string(i) + "=value\r\n";
    report += "{/B}{PAGE}Visible after the tag\r\n";
    const std::string text = PdfOf(report);
    EXPECT_NE(text.find("Before"), std::string::npos);
    EXPECT_NE(text.find("Visible after the tag"), std::string::npos);
    ASSERT_EQ(Services.Messages.size(), 1u) << Said();
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render");
    EXPECT_NE(Services.Messages[0].Text.find("without its closing brace"), std::string::npos);
}

TEST_F(PassLimitsTest, RomanPageNumbersOfAMillionAndMoreAreWrittenInDigits)
{
    std::string report = "{FIELD CODE=PAGE START=999999 STYLE=ROMAN}\r\n";
    for (int i = 0; i < 200; ++i)
        report += "{FIELD CODE=PAGE START=2000000000 STYLE=LOWER-ROMAN}\r\n";
    const std::string text = PdfOf(report);
    // The first field's 999 letters M run off the page; the others are digits.
    EXPECT_EQ(text.find("MMMM"), 0u);
    size_t digits = 0;
    for (size_t at = text.find("\n2000000000\n"); at != std::string::npos; at = text.find("\n2000000000\n", at + 1))
        ++digits;
    EXPECT_GE(digits, 50u) << text.substr(0, 200);
    EXPECT_EQ(text.find("mmm"), std::string::npos);
    ASSERT_EQ(Services.Messages.size(), 1u) << Said();
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render:{FIELD}");
    EXPECT_EQ(Services.Messages[0].Text,
              "Page number 2000000000 is too large for Roman numerals; it is written in digits");
}

// Fields of about a thousand letters from tags of fifty bytes: past the
// allowance (here 10,000 bytes and 16 per byte of the report) the fields are
// left empty, and the pass says so once.
TEST_F(PassLimitsTest, FieldsStopMakingTextPastTheAllowance)
{
    R->FieldTextBase = 10'000;
    std::string report;
    for (int i = 0; i < 100; ++i)
        report += "{FIELD CODE=PAGE START=999000 STYLE=ROMAN}\r\n";
    report += "End\r\n";
    R->OpenFile(Write(report), nullptr);
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    const int64_t allowed = 10'000 + 16 * int64_t(report.size());
    ASSERT_EQ(Services.Messages.size(), 1u) << Said();
    EXPECT_EQ(Services.Messages[0].Caption, "Error in tRenderer.Render:{FIELD}");
    EXPECT_NE(Services.Messages[0].Text.find("the fields from here on are left empty"), std::string::npos);
    EXPECT_GT(R->Pass.Limits.FieldText, allowed);
    // Each pass starts with the whole allowance.
    Services.Messages.clear();
    EXPECT_TRUE(R->RenderPages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(Services.Messages.size(), 1u);
}

}  // namespace
}  // namespace quillard::test
