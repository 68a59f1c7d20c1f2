// Plan texts: the faults the end-to-end test leaves out, and the values a
// row hands to its run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/plan_file.h"
#include "platform/ipv4_text.h"

namespace {

using kelvo::CommandSet;
using kelvo::CommandUpload;
using kelvo::PlanRow;

std::string Problem(const std::string& text, int32_t command = CommandSet) {
    std::vector<PlanRow> rows;
    std::string problem;
    EXPECT_FALSE(kelvo::ParsePlanText("p.csv", text, command, rows, problem));
    return problem;
}

TEST(PlanFile, RowsCarryTheirLineAndValues) {
    std::vector<PlanRow> rows;
    std::string problem;
    ASSERT_TRUE(kelvo::ParsePlanText("p.csv",
                                     " Gateway ,MAC,ip\n\n\"10.0.0.1\",0x02c0de000001,\n,02c0de000002,DHCP\n",
                                     CommandSet, rows, problem))
        << problem;
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(3, rows[0].line);
    EXPECT_EQ(0x01, rows[0].mac[5]);
    EXPECT_EQ("10.0.0.1", platform::FormatIPv4(rows[0].gateway));
    EXPECT_EQ(0u, rows[0].ip);
    EXPECT_EQ(0, rows[0].useDhcp);
    EXPECT_EQ(4, rows[1].line);
    EXPECT_EQ(1, rows[1].useDhcp);
    EXPECT_EQ(0u, rows[1].gateway);
}

TEST(PlanFile, EveryRowNamesOneDevice) {
    const std::string wanted = "p.csv:2: The mac value must name one device, such as 02C0DE123456.";
    EXPECT_EQ(wanted, Problem("mac\nauto\n"));
    EXPECT_EQ(wanted, Problem("mac\n000000000000\n"));
    EXPECT_EQ(wanted, Problem("mac,ip\n,10.0.0.1\n"));
    EXPECT_EQ("p.csv:2: The /mac value is not \"auto\" or a MAC address such as 02C0DE123456.",
              Problem("mac\nxyz\n"));
}

TEST(PlanFile, UploadTakesMacAndHostOnly) {
    EXPECT_EQ("p.csv:1: Unknown column \"subnet\".", Problem("mac,subnet\n", CommandUpload));
    EXPECT_EQ("p.csv:2: dhcp parameter is valid only with the /set command.",
              Problem("mac,ip\n02c0de000001,dhcp\n", CommandUpload));
    // The FTP host may be shared: no address is "planned twice" for uploads.
    std::vector<PlanRow> rows;
    std::string problem;
    EXPECT_TRUE(kelvo::ParsePlanText("p.csv", "mac,ip\n02c0de000001,10.0.0.9\n02c0de000002,10.0.0.9\n",
                                     CommandUpload, rows, problem))
        << problem;
}

TEST(PlanFile, OutsideTextPassesTheGate) {
    using namespace std::string_literals;
    // A NUL would cut the value short in the parser's C strings: refused on its own line.
    EXPECT_EQ("p.csv:5: The /ip value contains a control character.",
              Problem("mac,ip\n02c0de000001,10.0.0.1\n\n# c\n02c0de000002,10.77.0.100\0junk\n"s));
    EXPECT_EQ("p.csv:2: The /mac value contains a control character.", Problem("mac\n\0"
                                                                               "02c0de000001\n"s));
    EXPECT_EQ("p.csv:1: The column name contains a control character.", Problem("mac,ip,v\x1b[2Jlan\n"));
    EXPECT_EQ("p.csv:2: The /subnet value contains a control character.",
              Problem("mac,subnet\n02c0de000001,\"255.255.255.0\t\"\n"));
    EXPECT_EQ("p.csv:2: The /gateway value is longer than 255 characters.",
              Problem("mac,gateway\n02c0de000001," + std::string(256, '1') + "\n"));
}

TEST(PlanFile, ShapeFaults) {
    EXPECT_EQ("p.csv:1: Column \"MAC\" is named twice.", Problem("mac,MAC\n"));
    EXPECT_EQ("p.csv:3: The row has 3 values; the header names 2 columns.",
              Problem("mac,ip\n02c0de000001,10.0.0.1\n02c0de000002,10.0.0.2,x\n"));
    EXPECT_EQ(0u, Problem("mac,ip\n\"02c0de000001,10.0.0.1\n").find("p.csv:2: Not a CSV line: "));
    EXPECT_EQ("p.csv: No header row.", Problem("# nothing\n\n"));
    EXPECT_EQ("p.csv: No device is planned.", Problem("mac,ip\n"));
}

}  // namespace
