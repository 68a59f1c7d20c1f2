// The FTP client's local rules: the remote file name (one rule on every
// system) and the failures that need no server.
#include <gtest/gtest.h>

#include <string>

#include "platform/ftp.h"

namespace {

TEST(RemoteFileName, TextAfterTheLastSlashOrBackslash) {
    EXPECT_EQ("fw.bin", platform::RemoteFileName("/home/me/fw.bin"));
    EXPECT_EQ("fw.bin", platform::RemoteFileName("C:\\images\\v2\\fw.bin"));
    EXPECT_EQ("fw.bin", platform::RemoteFileName("fw.bin"));
    EXPECT_EQ("fw.bin", platform::RemoteFileName("images/fw.bin"));  // a folder on Windows too
    EXPECT_EQ("C:fw.bin", platform::RemoteFileName("C:fw.bin"));     // a drive is no separator
    EXPECT_EQ("c.bin", platform::RemoteFileName("a\\b/c.bin"));
    EXPECT_EQ("c.bin", platform::RemoteFileName("a/b\\c.bin"));
    EXPECT_EQ("name with spaces%#?.bin", platform::RemoteFileName("./dir/name with spaces%#?.bin"));
    EXPECT_EQ("", platform::RemoteFileName("/srv/images/"));
    EXPECT_EQ("", platform::RemoteFileName("C:\\"));
    EXPECT_EQ("", platform::RemoteFileName(""));
    EXPECT_EQ("", platform::RemoteFileName(nullptr));
    const std::string longName(300, 'n');
    EXPECT_EQ(longName, platform::RemoteFileName(("D:\\" + longName).c_str()));  // never cut
}

TEST(FtpSession, CallsBeforeInitializeFailWithTheSetUpCode) {
    platform::FtpSession ftp;
    EXPECT_EQ(0u, ftp.LastError());
    EXPECT_FALSE(ftp.Connect("10.0.0.1", "root", "pw"));
    const uint32_t setUpCode = ftp.LastError();
    EXPECT_NE(0u, setUpCode);
    EXPECT_FALSE(ftp.PutFile("/nonexistent", "fw.bin"));
    EXPECT_EQ(setUpCode, ftp.LastError());
    EXPECT_FALSE(ftp.ErrorText(setUpCode).empty());
}

TEST(FtpSession, ErrorTextsDescribeTheClientCodes) {
    platform::FtpSession ftp;
    ASSERT_TRUE(ftp.Initialize());
    // Distinct failures have distinct descriptions.
    EXPECT_NE(ftp.ErrorText(7), ftp.ErrorText(67));
    EXPECT_FALSE(ftp.ErrorText(7).empty());
    EXPECT_FALSE(ftp.ErrorText(67).empty());
}

}  // namespace
