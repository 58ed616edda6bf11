#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <string>
#include <vector>

#include "NumFmt.h"

using namespace tabulon::numfmt;

namespace {

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

}  // namespace

// Every line of the shared vector file: format code, value (text when it starts with a
// quote), expected text, date system.
TEST(NumFmtVectors, AllLinesRenderAsExpected)
{
    std::ifstream in(TABULON_FORMATS_DIR "/vectors.tsv", std::ios::binary);
    ASSERT_TRUE(in) << "missing " TABULON_FORMATS_DIR "/vectors.tsv";
    std::string line;
    std::getline(in, line);
    ASSERT_EQ(line, "format_code\tvalue\texpected\tdate1904");
    int checked = 0;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        const auto f = splitTabs(line);
        ASSERT_EQ(f.size(), 4u) << line;
        const std::string& code = f[0];
        const std::string& value = f[1];
        if (!value.empty() && value[0] == '\'') {
            EXPECT_EQ(renderText(std::string_view(value).substr(1), code), f[2]) << "code " << code << " text " << value;
        } else {
            double v = 0;
            const auto res = std::from_chars(value.data(), value.data() + value.size(), v);
            ASSERT_TRUE(res.ec == std::errc() && res.ptr == value.data() + value.size()) << line;
            EXPECT_EQ(render(v, code, f[3] == "1"), f[2]) << "code " << code << " value " << value;
        }
        ++checked;
    }
    EXPECT_GE(checked, 100);
}
