// Command-line parsing in process: conversions, exact-name lookup, the record
// that accepted lines produce, and the rejection lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/interface_choice.h"

namespace {

using kelvo::CommandLine;

const std::string kT = "Type \"kelvoprog /?\" for details.";

// Owns argument texts for one parse; entry 0 is the program name.
struct Args {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    explicit Args(std::vector<std::string> given) : texts(std::move(given)) {
        texts.insert(texts.begin(), "kelvoprog");
        for (auto& t : texts) pointers.push_back(&t[0]);
        pointers.push_back(nullptr);
    }
    kelvo::ArgumentList List() {
        return kelvo::MakeArgumentList(static_cast<int>(texts.size()), pointers.data());
    }
};

struct Parsed {
    bool ok;
    CommandLine cmd;
    std::string out, err;
};

Parsed Parse(std::vector<std::string> given) {
    Args args(std::move(given));
    kelvo::SetProcessArguments(static_cast<int>(args.texts.size()), args.pointers.data());
    Parsed result;
    std::memset(&result.cmd, 0, sizeof result.cmd);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    result.ok = kelvo::ParseCommandLine(result.cmd);
    result.err = testing::internal::GetCapturedStderr();
    result.out = testing::internal::GetCapturedStdout();
    kelvo::SetProcessArguments(0, nullptr);
    return result;
}

uint32_t Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

// Sets an environment variable, or removes it (nullptr), on both systems; on
// Windows an empty value removes it too, which the tool takes alike.
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

bool Mac(const char* text, uint8_t out[6]) { return kelvo::ParseMacAddress(text, std::strlen(text), out); }

TEST(ParseMacAddress, AcceptsPlainColonAndPrefixedForms) {
    const uint8_t want[6] = {0x02, 0xC0, 0xDE, 0x12, 0x34, 0x56};
    for (const char* text : {"02C0DE123456", "02:c0:de:12:34:56", "0x02C0DE123456", "0X02c0de123456",
                             "02:C0:DE:12:3456", "02c0:de12:3456"}) {
        uint8_t mac[6] = {};
        ASSERT_TRUE(Mac(text, mac)) << text;
        EXPECT_EQ(0, std::memcmp(mac, want, 6)) << text;
    }
}

TEST(ParseMacAddress, ShortTextLeavesTrailingBytesZero) {
    uint8_t mac[6];
    std::memset(mac, 0xAA, 6);
    ASSERT_TRUE(Mac("02C0DE", mac));
    const uint8_t want[6] = {0x02, 0xC0, 0xDE, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(mac, want, 6));
}

TEST(ParseMacAddress, RefusesBadTextAndLeavesOutputAlone) {
    for (const char* text : {"", "0x", "02-C0-DE-12-34-56", "02C0DE12345", "zz", "02::C0", "0",
                             "02C0DE1234567890", "02:C0:DE:12:34:56:",  // seven pairs: no room; 18 characters
                             "02C0DE12345678", "0x02:C0:DE:12:34:56:78", ":02", "02C0DE123456789"}) {
        uint8_t mac[6];
        std::memset(mac, 0xAA, 6);
        EXPECT_FALSE(Mac(text, mac)) << text;
        for (uint8_t b : mac) EXPECT_EQ(0xAA, b) << text;
    }
}

TEST(ParseHexValue, AcceptsOneToEightDigitsWithOptionalPrefix) {
    uint32_t value = 0;
    ASSERT_TRUE(kelvo::ParseHexValue("0x54454C51", 10, &value));
    EXPECT_EQ(0x54454C51u, value);
    ASSERT_TRUE(kelvo::ParseHexValue("54454c51", 8, &value));
    EXPECT_EQ(0x54454C51u, value);
    ASSERT_TRUE(kelvo::ParseHexValue("f", 1, &value));
    EXPECT_EQ(0xFu, value);
    ASSERT_TRUE(kelvo::ParseHexValue("FFFFFFFF", 8, &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
}

TEST(ParseHexValue, RefusesOtherTextAndLeavesOutputAlone) {
    for (const char* text : {"", "0x", "123456789", "0x123456789", "54G54C51", " 1", "-1", "1 "}) {
        uint32_t value = 7;
        EXPECT_FALSE(kelvo::ParseHexValue(text, std::strlen(text), &value)) << text;
        EXPECT_EQ(7u, value) << text;
    }
}

TEST(ArgumentForms, CommandAndParameterWords) {
    EXPECT_TRUE(kelvo::IsCommandWord("/set"));
    EXPECT_TRUE(kelvo::IsCommandWord("/?"));
    EXPECT_FALSE(kelvo::IsCommandWord("/5"));
    EXPECT_FALSE(kelvo::IsCommandWord("/"));
    EXPECT_FALSE(kelvo::IsCommandWord("set"));
    EXPECT_FALSE(kelvo::IsCommandWord("/ip=1"));
    EXPECT_FALSE(kelvo::IsCommandWord(nullptr));
    EXPECT_TRUE(kelvo::IsParameterWord("/ip=1"));
    EXPECT_TRUE(kelvo::IsParameterWord("/5=1"));
    EXPECT_TRUE(kelvo::IsParameterWord("/mac="));
    EXPECT_FALSE(kelvo::IsParameterWord("/mac"));
    EXPECT_FALSE(kelvo::IsParameterWord("ip=1"));
    EXPECT_FALSE(kelvo::IsParameterWord(nullptr));

    Args args({"/set", "/ip=1", "x", "/5", "/upload"});
    auto list = args.List();
    EXPECT_EQ(2, list.commandCount);
    EXPECT_TRUE(list.malformed);
    EXPECT_EQ("/ip", kelvo::GetName(list, 2));
    EXPECT_EQ("x", kelvo::GetName(list, 3));
    EXPECT_EQ("/set", kelvo::GetCommandAt(list, 1));
    EXPECT_EQ("", kelvo::GetCommandAt(list, 2));
    EXPECT_EQ("", kelvo::GetCommandAt(list, 9));
}

TEST(ArgumentLookup, MatchesNamesExactlyNeverByContainment) {
    Args args({"/upload", "/firmware=/srv/ip/fw.bin", "/password=a/mac1", "/mac=02C0DE123456"});
    auto list = args.List();
    EXPECT_EQ(-1, kelvo::FindParameter(list, "/ip"));
    EXPECT_EQ("", kelvo::GetValue(list, "/ip"));
    EXPECT_EQ(4, kelvo::FindParameter(list, "/mac"));
    EXPECT_EQ("02C0DE123456", kelvo::GetValue(list, "/mac"));
    EXPECT_EQ("/srv/ip/fw.bin", kelvo::GetValue(list, "/firmware"));
    EXPECT_EQ(-1, kelvo::FindCommand(list, "/up"));
    EXPECT_EQ(1, kelvo::FindCommand(list, "/upload"));
}

TEST(ArgumentLookup, LastOneWinsAndValueKeepsFurtherEquals) {
    Args args({"/set", "/ip=10.0.0.1", "/password=a=b", "/ip=10.0.0.2", "/mac", "/help"});
    auto list = args.List();
    EXPECT_EQ(4, kelvo::FindParameter(list, "/ip"));
    EXPECT_EQ("10.0.0.2", kelvo::GetValue(list, "/ip"));
    EXPECT_EQ("a=b", kelvo::GetValue(list, "/password"));
    EXPECT_EQ(5, kelvo::FindCommand(list, "/mac"));  // bare: a command word
    EXPECT_EQ(-1, kelvo::FindParameter(list, "/mac"));
    EXPECT_EQ(6, kelvo::FindCommand(list, "/help"));
}

TEST(ParseCommandLine, SetWithMacGivesDefaults) {
    Parsed p = Parse({"/set", "/mac=02c0de254074", "/ip=192.168.1.1", "/subnet=255.255.255.0"});
    ASSERT_TRUE(p.ok) << p.err;
    EXPECT_EQ("", p.out + p.err);
    EXPECT_EQ(kelvo::CommandSet, p.cmd.command);
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
    EXPECT_EQ(0, std::memcmp(mac, p.cmd.mac, 6));
    EXPECT_EQ(Address(192, 168, 1, 1), p.cmd.ip);
    EXPECT_EQ(Address(255, 255, 255, 0), p.cmd.subnet);
    EXPECT_EQ(0u, p.cmd.gateway);
    EXPECT_EQ(0, p.cmd.useDhcp);
    EXPECT_STREQ("root", p.cmd.username);
    EXPECT_STREQ("Brackwater", p.cmd.password);
    EXPECT_STREQ("", p.cmd.firmwarePath);
    EXPECT_EQ(2u, p.cmd.magicCount);
    EXPECT_EQ(0x54454C51u, p.cmd.magics[0]);
    EXPECT_EQ(0x48415046u, p.cmd.magics[1]);
    EXPECT_EQ(0xD4A17F3Bu, p.cmd.vendorGuid.data1);
    EXPECT_EQ(0x2E8C, p.cmd.vendorGuid.data2);
    EXPECT_EQ(0x4B61, p.cmd.vendorGuid.data3);
    const uint8_t data4[8] = {0x9F, 0x05, 0x6C, 0x3A, 0x8E, 0x1B, 0x72, 0xD4};
    EXPECT_EQ(0, std::memcmp(data4, p.cmd.vendorGuid.data4, 8));
}

TEST(ParseCommandLine, AcceptedVariants) {
    Parsed dhcp = Parse({"/set", "/ip=DHCP", "/mac=02c0de254074"});
    ASSERT_TRUE(dhcp.ok);
    EXPECT_EQ(1, dhcp.cmd.useDhcp);
    EXPECT_EQ(0u, dhcp.cmd.ip);

    Parsed autoMac = Parse({"/upload", "/mac=AUTO", "/firmware=f.bin"});
    ASSERT_TRUE(autoMac.ok);
    EXPECT_EQ(kelvo::CommandUpload, autoMac.cmd.command);
    for (uint8_t b : autoMac.cmd.mac) EXPECT_EQ(0, b);
    EXPECT_STREQ("f.bin", autoMac.cmd.firmwarePath);

    Parsed second = Parse({"/upload", "/set", "/mac=auto"});
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(kelvo::CommandUpload, second.cmd.command);

    Parsed lastIp = Parse({"/set", "/mac=02C0DE123456", "/ip=10.0.0.1", "/ip=10.0.0.2"});
    ASSERT_TRUE(lastIp.ok);
    EXPECT_EQ(Address(10, 0, 0, 2), lastIp.cmd.ip);

    Parsed vendor = Parse({"/discover", "/vendorid=0x54454C51"});
    ASSERT_TRUE(vendor.ok);
    EXPECT_EQ(1u, vendor.cmd.magicCount);
    EXPECT_EQ(0x54454C51u, vendor.cmd.magics[0]);

    Parsed credentials =
        Parse({"/upload", "/ip=10.1.2.3", "/username=admin", "/password=", "/gateway=10.1.2.254"});
    ASSERT_TRUE(credentials.ok);
    EXPECT_STREQ("admin", credentials.cmd.username);
    EXPECT_STREQ("Brackwater", credentials.cmd.password);  // empty counts as absent
    EXPECT_EQ(Address(10, 1, 2, 254), credentials.cmd.gateway);

    // The listing never reads /mac, so its text is not judged there.
    EXPECT_TRUE(Parse({"/discover", "/mac=x"}).ok);
}

TEST(ParseCommandLine, PathValuesNoLongerStandInForOtherOptions) {
    // Under containment this path would have been taken as the /ip text.
    Parsed p = Parse({"/upload", "/mac=auto", "/firmware=/srv/ipcam/ip/fw.bin"});
    ASSERT_TRUE(p.ok) << p.err;
    EXPECT_EQ(0u, p.cmd.ip);
    EXPECT_STREQ("/srv/ipcam/ip/fw.bin", p.cmd.firmwarePath);

    Parsed q = Parse({"/set", "/ip=10.0.0.9", "/password=a/mac1"});
    ASSERT_TRUE(q.ok) << q.err;
    for (uint8_t b : q.cmd.mac) EXPECT_EQ(0, b);
    EXPECT_STREQ("a/mac1", q.cmd.password);
}

TEST(ParseCommandLine, LengthLimitsOfTextFields) {
    const std::string longest(255, 'p');
    Parsed ok = Parse({"/discover", "/password=" + longest, "/username=" + longest});
    ASSERT_TRUE(ok.ok);
    EXPECT_EQ(longest, ok.cmd.password);
    EXPECT_EQ(longest, ok.cmd.username);

    const std::string path(kelvo::kMaxFirmwarePath, 'f');
    Parsed okPath = Parse({"/discover", "/firmware=" + path});
    ASSERT_TRUE(okPath.ok);
    EXPECT_EQ(path, okPath.cmd.firmwarePath);

    Parsed password = Parse({"/discover", "/password=" + longest + "x"});
    EXPECT_FALSE(password.ok);
    EXPECT_EQ("ERROR: The /password value is longer than 255 characters. " + kT + "\n", password.err);
    Parsed user = Parse({"/discover", "/username=" + longest + "x"});
    EXPECT_FALSE(user.ok);
    EXPECT_EQ("ERROR: The /username value is longer than 255 characters. " + kT + "\n", user.err);
    Parsed firmware = Parse({"/discover", "/firmware=" + path + "f"});
    EXPECT_FALSE(firmware.ok);
    EXPECT_EQ("ERROR: The /firmware path is longer than 4095 characters. " + kT + "\n", firmware.err);
}

TEST(ParseCommandLine, RejectionsOfUnsafeValues) {
    const std::string macLine =
        "ERROR: The /mac value is not \"auto\" or a MAC address such as 02C0DE123456. " + kT + "\n";
    EXPECT_EQ(macLine, Parse({"/set", "/mac=zz"}).err);
    EXPECT_EQ(macLine, Parse({"/upload", "/mac=02C0DE1234567890"}).err);
    EXPECT_EQ(macLine, Parse({"/upload", "/mac=02-C0-DE-12-34-56"}).err);
    EXPECT_EQ("ERROR: The /ip value is not a valid IP address. " + kT + "\n",
              Parse({"/set", "/mac=auto", "/ip=1.2.3.256"}).err);
    EXPECT_EQ("ERROR: The /subnet value is not a valid subnet mask. " + kT + "\n",
              Parse({"/discover", "/subnet=255.255.255.0 "}).err);
    EXPECT_EQ("ERROR: The /gateway value is not a valid IP address. " + kT + "\n",
              Parse({"/discover", "/gateway=gw"}).err);
    const std::string vendorLine =
        "ERROR: The /vendorid value is not a nonzero hexadecimal packet magic. " + kT + "\n";
    EXPECT_EQ(vendorLine, Parse({"/discover", "/vendorid=TELQ"}).err);
    EXPECT_EQ(vendorLine, Parse({"/discover", "/vendorid=0"}).err);
    EXPECT_EQ(vendorLine, Parse({"/discover", "/vendorid=0x"}).err);
    // 255.255.255.255 is an address, not a refusal.
    Parsed broadcast = Parse({"/discover", "/subnet=255.255.255.255"});
    ASSERT_TRUE(broadcast.ok);
    EXPECT_EQ(0xFFFFFFFFu, broadcast.cmd.subnet);
}

TEST(ParseCommandLine, WaitAfterReboot) {
    Parsed plain = Parse({"/set", "/mac=02c0de254074", "/wait="});  // empty: absent
    ASSERT_TRUE(plain.ok) << plain.err;
    EXPECT_EQ(kelvo::RebootWait::Fixed, plain.cmd.rebootWait);
    EXPECT_EQ(40u, plain.cmd.waitSeconds);
    EXPECT_EQ(kelvo::RebootWait::Ready, Parse({"/set", "/mac=auto", "/wait=Ready"}).cmd.rebootWait);
    for (const char* seconds : {"1", "600", "0040"}) {
        Parsed fixed = Parse({"/set", "/mac=auto", std::string("/wait=") + seconds});
        ASSERT_TRUE(fixed.ok) << seconds;
        EXPECT_EQ(kelvo::RebootWait::Fixed, fixed.cmd.rebootWait);
        EXPECT_EQ(std::stoul(seconds), fixed.cmd.waitSeconds);
    }
    for (const char* bad : {"0", "601", "99999999999", "-1", "5s", " 5", "readyy"})
        EXPECT_EQ("ERROR: The /wait value is not ready or a number of seconds from 1 to 600. " + kT + "\n",
                  Parse({"/set", "/mac=auto", std::string("/wait=") + bad}).err)
            << bad;
}

TEST(ParseCommandLine, HelpAndOrderOfChecks) {
    // Help wins over every check but M1 and M2, value checks included.
    Parsed help = Parse({"/set", "/mac=zz", "/?"});
    EXPECT_FALSE(help.ok);
    EXPECT_EQ(kelvo::CommandHelp, help.cmd.command);
    EXPECT_EQ("", help.err);
    EXPECT_NE(std::string::npos, help.out.find("Usage:\n"));

    EXPECT_EQ("ERROR: /foo is not a valid parameter. " + kT + "\n", Parse({"/foo=1", "/set"}).err);
    EXPECT_EQ("ERROR: Command line parameters contain errors. " + kT + "\n", Parse({"/foo=1", "set"}).err);
    // The MAC check comes before M5.
    Parsed p = Parse({"/upload", "/mac=zz", "/ip=1.2.3.4"});
    EXPECT_EQ(0u, p.err.find("ERROR: The /mac value"));
}

TEST(ChooseInterfaces, NamesAndAddressesInTheHostsOrder) {
    const std::vector<platform::LocalInterface> host = {{Address(10, 77, 0, 1), "eth0"},
                                                        {Address(10, 78, 0, 1), "Ethernet, 2"},
                                                        {Address(10, 79, 0, 1), "eth0"},
                                                        {Address(10, 80, 0, 1), "wlan0"}};
    using kelvo::InterfaceChoice;
    struct Case {
        const char* value;
        InterfaceChoice choice;
        std::vector<uint32_t> chosen;
    };
    const Case cases[] = {
        {"eth0", InterfaceChoice::Chosen, {Address(10, 77, 0, 1), Address(10, 79, 0, 1)}},
        {"10.80.0.1, eth0,10.77.0.1",
         InterfaceChoice::Chosen,
         {Address(10, 77, 0, 1), Address(10, 79, 0, 1), Address(10, 80, 0, 1)}},
        {"Ethernet, 2", InterfaceChoice::Chosen, {Address(10, 78, 0, 1)}},  // a name that holds a comma
        {"eth1", InterfaceChoice::NotLocal, {}},
        {"10.77.0.2", InterfaceChoice::NotLocal, {}},
        {"eth0,", InterfaceChoice::NotLocal, {}},
        {"wlan0,,eth0", InterfaceChoice::NotLocal, {}},
        {"ETH0", InterfaceChoice::NotLocal, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> chosen;
        EXPECT_EQ(c.choice, kelvo::ChooseInterfaces(c.value, host, &chosen)) << c.value;
        EXPECT_EQ(c.chosen, chosen) << c.value;
    }
    std::vector<platform::LocalInterface> crowded;
    for (uint32_t i = 0; i <= kelvo::kMaxChosenInterfaces; ++i)
        crowded.push_back(
            {Address(10, 77, static_cast<uint8_t>(i / 200), static_cast<uint8_t>(1 + i % 200)), "h0"});
    std::vector<uint32_t> chosen;
    EXPECT_EQ(InterfaceChoice::TooMany, kelvo::ChooseInterfaces("h0", crowded, &chosen));
}

TEST(ParseCommandLine, InterfaceThatIsNotLocalOrComesWithAControlCharacter) {
    EXPECT_EQ("ERROR: The /interface value is not a local IPv4 address or interface name.\n",
              Parse({"/discover", "/interface=kelvo-none0"}).err);
    SetVariable("KELVOPROG_INTERFACE", "203.0.113.7");
    EXPECT_EQ("ERROR: The KELVOPROG_INTERFACE value is not a local IPv4 address or interface name.\n",
              Parse({"/discover"}).err);
    SetVariable("KELVOPROG_INTERFACE", "eth0\x1b[2J");
    EXPECT_EQ("ERROR: The KELVOPROG_INTERFACE value contains a control character.\n",
              Parse({"/discover"}).err);
    // The command line wins; an empty variable counts as absent.
    EXPECT_EQ("ERROR: The /interface value is not a local IPv4 address or interface name.\n",
              Parse({"/discover", "/interface=kelvo-none0"}).err);
    SetVariable("KELVOPROG_INTERFACE", "");
    Parsed every = Parse({"/discover"});
    ASSERT_TRUE(every.ok) << every.err;
    EXPECT_EQ(0u, every.cmd.interfaceCount);
    SetVariable("KELVOPROG_INTERFACE", nullptr);
}

}  // namespace
