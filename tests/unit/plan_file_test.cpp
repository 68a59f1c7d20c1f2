// Plan texts: the faults the end-to-end test leaves out, and the values a
// row hands to its run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quex/quex.h>

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

TEST(PlanFile, UploadTakesMacHostAndMagicOnly) {
    EXPECT_EQ("p.csv:1: Unknown column \"vlan\".", Problem("mac,vlan\n", CommandUpload));
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

// The columns /discover /format=csv writes, as it writes them.
const std::string kDiscoveryHeader =
    "ip,mac,model,subnet,gateway,dhcp,magic,interface,interface_name,version,vendor_guid,aux_text,"
    "aux_number,aux_address,aux_byte,aux_data\r\n";

std::string DiscoveryRow(const std::string& ip, const std::string& mac, const std::string& dhcp,
                         const std::string& magic, const std::string& model = "KV-200") {
    return ip + "," + mac + "," + model + ",255.255.255.0,10.0.0.1," + dhcp + "," + magic +
           ",10.0.0.254,eth1,512,{D4A17F3B-2E8C-4B61-9F05-6C3A8E1B72D4},,,,," + std::string(510, 'A') +
           "\r\n";
}

TEST(PlanFile, DiscoveryFileIsAPlan) {
    std::vector<PlanRow> rows;
    std::string problem;
    // A device on both magics stands twice; a DHCP device's address is its lease.
    const std::string text =
        kDiscoveryHeader + DiscoveryRow("10.0.0.50", "02:C0:DE:00:00:01", "false", "TELQ") +
        DiscoveryRow("10.0.0.60", "02:C0:DE:00:00:02", "TRUE", "0x0000ABCD", "\"A, B\"") +
        DiscoveryRow("10.0.0.50", "02:C0:DE:00:00:01", "false", "HAPF") +
        DiscoveryRow("10.0.0.70", "02:C0:DE:00:00:03", "false", "'-ABC");
    ASSERT_TRUE(kelvo::ParsePlanText("p.csv", text, CommandSet, rows, problem)) << problem;
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(2, rows[0].line);
    EXPECT_EQ("10.0.0.50", platform::FormatIPv4(rows[0].ip));
    EXPECT_EQ(0, rows[0].useDhcp);
    ASSERT_EQ(2u, rows[0].magicCount);
    EXPECT_EQ(QUEX_MAGIC_TELQ, rows[0].magics[0]);
    EXPECT_EQ(QUEX_MAGIC_HAPF, rows[0].magics[1]);
    EXPECT_EQ(1, rows[1].useDhcp);
    EXPECT_EQ(0u, rows[1].ip);  // never frozen at its lease
    ASSERT_EQ(1u, rows[1].magicCount);
    EXPECT_EQ(0xABCDu, rows[1].magics[0]);
    EXPECT_EQ(0x2D414243u, rows[2].magics[0]);  // "-ABC", its spreadsheet guard taken off
    // /upload reads the same file: the address locates, dhcp, subnet and gateway are unused.
    ASSERT_TRUE(kelvo::ParsePlanText("p.csv", text, CommandUpload, rows, problem)) << problem;
    EXPECT_EQ("10.0.0.60", platform::FormatIPv4(rows[1].ip));
    EXPECT_EQ(0, rows[1].useDhcp);
    EXPECT_EQ(0u, rows[1].subnet);
}

TEST(PlanFile, DiscoveryColumnFaults) {
    EXPECT_EQ("p.csv:2: The dhcp value is not true or false.", Problem("mac,dhcp\n02c0de000001,yes\n"));
    EXPECT_EQ("p.csv:2: The magic value is not a packet magic such as TELQ or 0x54454C51.",
              Problem("mac,magic\n02c0de000001,0xABCD\n"));
    // The same address, but DHCP on one row: two things asked of one device.
    EXPECT_EQ("p.csv:3: MAC 02:C0:DE:00:00:01 is planned twice (line 2).",
              Problem(kDiscoveryHeader + DiscoveryRow("10.0.0.50", "02:C0:DE:00:00:01", "false", "TELQ") +
                      DiscoveryRow("10.0.0.50", "02:C0:DE:00:00:01", "true", "HAPF")));
    EXPECT_EQ("p.csv:4: MAC 02:C0:DE:00:00:01 is planned with more than two magics (line 2).",
              Problem("mac,magic\n02c0de000001,TELQ\n02c0de000001,HAPF\n02c0de000001,MORV\n"));
    // Unused cells pass the gate too, with a bound that fits a device's text.
    EXPECT_EQ("p.csv:2: The model value contains a control character.",
              Problem(kDiscoveryHeader +
                      DiscoveryRow("10.0.0.50", "02:C0:DE:00:00:01", "false", "TELQ", "K\x1b[2J")));
    EXPECT_EQ("p.csv:2: The aux_data value is longer than 1024 characters.",
              Problem("mac,aux_data\n02c0de000001," + std::string(1025, 'A') + "\n"));
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
