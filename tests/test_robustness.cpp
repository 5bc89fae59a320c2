// Inputs found by fuzzing and by review of the page pass that once crashed,
// hung or ran into undefined behaviour. Each must now end normally with the
// result the same report gives when written plainly.
#include "tests/testutil.h"

#include <chrono>
#include <climits>

namespace quillard::test {
namespace {

class RobustnessTest : public EngineTest {
protected:
    // Page N of Bytes, as drawn on a fresh page bitmap.
    QImage Draw(const std::string& Bytes, int N)
    {
        EXPECT_TRUE(RenderReport(Bytes, N));
        return Page->Image().copy();
    }
};

// The page number field may start the numbers at the largest integer; the
// next page must not step past it.
TEST_F(RobustnessTest, PageNumberStartedAtTheLargestValueStaysThere)
{
    const std::string report = "{FIELD CODE=PAGE START=2147483647}\r\n{PAGE}\r\n{FIELD CODE=PAGE} end";
    R->OpenFile(Write(report), nullptr);
    EXPECT_EQ(R->CountPages(), 2);
    EXPECT_EQ(R->PageNumber, INT_MAX);

    const QImage second = Draw(report, 2);
    EXPECT_TRUE(second == Draw("2147483647 end", 1));
    EXPECT_TRUE(Services.Messages.empty());
}

}  // namespace
}  // namespace quillard::test
