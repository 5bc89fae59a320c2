// The tag table of the interpreter: every row can be reached, and a tag the
// table handles reaches its handler through the page pass.
#include "engine/markup.h"
#include "tags/interpreter.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillard;

namespace {

bool RowMatches(const TTagInterpreter::TTagRow& Row, const std::string& Tag)
{
    return Row.Prefix ? Tag.compare(0, Row.Name.size(), Row.Name) == 0 : Tag == Row.Name;
}

}  // namespace

// A row that an earlier row takes every tag of, with another handler or
// caption, would never run: the table's order must not hide one.
TEST(TagTable, NoRowIsHiddenByAnEarlierOne)
{
    const auto rows = TTagInterpreter::TagTable();
    for (size_t i = 0; i < rows.size(); ++i) {
        // The shortest tag the row takes: its name, closed when it is a prefix.
        const std::string tag = std::string(rows[i].Name) + (rows[i].Prefix ? "}" : "");
        for (size_t j = 0; j < i; ++j) {
            if (!RowMatches(rows[j], tag))
                continue;
            const bool same = rows[j].Handle == rows[i].Handle &&
                              std::string(rows[j].Caption ? rows[j].Caption : "") ==
                                  std::string(rows[i].Caption ? rows[i].Caption : "") &&
                              rows[j].AreaCode == rows[i].AreaCode &&
                              rows[j].SkippedWhenAborted == rows[i].SkippedWhenAborted;
            EXPECT_TRUE(same) << rows[i].Name << " is taken by the earlier row " << rows[j].Name;
            break;
        }
    }
}

// Names are tags as the interpreter hands them over: upper case, opening
// with a brace; an exact name is a whole tag, a caption names one.
TEST(TagTable, NamesAndCaptionsAreTags)
{
    for (const auto& row : TTagInterpreter::TagTable()) {
        const std::string name(row.Name);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.front(), '{') << name;
        for (char c : name)
            EXPECT_FALSE(c >= 'a' && c <= 'z') << name;
        if (!row.Prefix)
            EXPECT_EQ(name.back(), '}') << name;
        else
            EXPECT_NE(name.back(), '}') << name;
        if (row.Caption) {
            const std::string caption = row.Caption;
            EXPECT_EQ(caption.front(), '{') << name;
            EXPECT_EQ(caption.back(), '}') << name;
        }
        EXPECT_NE(row.Handle, nullptr) << name;
    }
}

// Every tag the table acts on, written as report-writing programs write it,
// tells that a file is a report and not plain text; text that only looks
// like it does not.
TEST(TagTable, EveryTagTellsAReportFromPlainText)
{
    for (const TTagInterpreter::TTagRow& row : TTagInterpreter::TagTable()) {
        const std::string tag = std::string(row.Name) + (row.Prefix ? " X=1}" : "");
        EXPECT_TRUE(IsKnownTagAt("text " + tag, 5)) << tag;
    }
    struct Case {
        const char* Text;
        bool Report;
    };
    for (const Case c : {Case{"{init paper=a4}", true}, Case{"{LPI=8}", true}, Case{"{/SPAN}", true},
                         Case{"{LANDSCAPE}", true}, Case{"print(f\"{i} of {n}\")", false}, Case{"{b}", false},
                         Case{"`{FONT SIZE=9}`", false}, Case{"{FONTS}", false}, Case{"{\"PAGE\": 1}", false},
                         Case{"echo ${PAGE}", false}, Case{"Total {B}42{/B}", true}, Case{"{PAGE", false}, Case{"{}", false}}) {
        const std::string text = c.Text;
        bool found = false;
        for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1))
            found = found || IsKnownTagAt(text, at);
        EXPECT_EQ(found, c.Report) << c.Text;
    }
}
