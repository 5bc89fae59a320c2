// The tag table of the interpreter: every row can be reached, and a tag the
// table handles reaches its handler through the page pass.
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
