// The result log's exact bytes: echo, header, entries, the failure marker,
// truncation of an earlier log, and the messages when the file is unusable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/command_line.h"
#include "app/result_log.h"

namespace {

const char kHeader[] = "\n\nMAC\t\t\tSTATUS\n";
const char kMarker[] = "\n\nERROR CONFIGURING DEVICE ";

// Runs each test in a fresh working directory with the given arguments.
class ResultLog : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvo-log-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
        ASSERT_EQ(0, getcwd(oldDir_, sizeof oldDir_) == nullptr ? -1 : 0);
        ASSERT_EQ(0, chdir(dir_.c_str()));
    }
    void TearDown() override {
        kelvo::SetProcessArguments(0, nullptr);
        (void)!chdir(oldDir_);
        (void)!std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    void SetArguments(std::vector<std::string> given) {
        texts_ = std::move(given);
        texts_.insert(texts_.begin(), "kelvoprog");
        pointers_.clear();
        for (auto& t : texts_) pointers_.push_back(&t[0]);
        pointers_.push_back(nullptr);
        kelvo::SetProcessArguments(static_cast<int>(texts_.size()), pointers_.data());
    }
    static std::string ReadLog() {
        std::ifstream in("kelvoprog.log", std::ios::binary);
        std::stringstream data;
        data << in.rdbuf();
        return data.str();
    }

    std::string dir_;
    char oldDir_[4096];
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

TEST_F(ResultLog, SuccessfulRunHoldsEchoHeaderAndOkEntry) {
    SetArguments({"/set", "/mac=02c0de254074", "/ip=192.168.1.1", "/subnet=255.255.255.0"});
    kelvo::LogFile log = kelvo::CreateLogFile();
    ASSERT_NE(kelvo::kInvalidLog, log);
    const uint8_t mac[6] = {0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74};
    EXPECT_TRUE(kelvo::WriteLogEntry(log, 0, mac));
    kelvo::CloseLogFile(log);
    EXPECT_EQ(std::string("/set /mac=02c0de254074 /ip=192.168.1.1 /subnet=255.255.255.0 ") + kHeader +
                  "02C0DE254074\tOK\n",
              ReadLog());
}

TEST_F(ResultLog, FailedRunEndsInMarkerAndErrorEntry) {
    SetArguments({"/upload", "/mac=auto"});
    kelvo::LogFile log = kelvo::CreateLogFile();
    ASSERT_NE(kelvo::kInvalidLog, log);
    const uint8_t none[6] = {};
    EXPECT_TRUE(kelvo::WriteLogData(log, kMarker, sizeof kMarker - 1));
    EXPECT_TRUE(kelvo::WriteLogEntry(log, 2, none));
    kelvo::CloseLogFile(log);
    const std::string log_text = ReadLog();
    EXPECT_EQ(std::string("/upload /mac=auto ") + kHeader + kMarker + "000000000000\tERROR\n", log_text);
    EXPECT_EQ(27u, sizeof kMarker - 1);
}

TEST_F(ResultLog, EntryIsUpperCaseHexWithFixedLength) {
    SetArguments({"/discover"});
    kelvo::LogFile log = kelvo::CreateLogFile();
    ASSERT_NE(kelvo::kInvalidLog, log);
    const uint8_t mac[6] = {0xAB, 0xcd, 0xEF, 0x01, 0x9A, 0xF0};
    EXPECT_TRUE(kelvo::WriteLogEntry(log, 0, mac));
    EXPECT_TRUE(kelvo::WriteLogEntry(log, -1, mac));
    EXPECT_TRUE(kelvo::WriteLogEntry(log, 11, mac));
    kelvo::CloseLogFile(log);
    const std::string ok = "ABCDEF019AF0\tOK\n", error = "ABCDEF019AF0\tERROR\n";
    EXPECT_EQ(16u, ok.size());
    EXPECT_EQ(19u, error.size());
    EXPECT_EQ(std::string("/discover ") + kHeader + ok + error + error, ReadLog());
}

TEST_F(ResultLog, EarlierLongerLogIsReplacedWhole) {
    {
        std::ofstream old("kelvoprog.log", std::ios::binary);
        old << std::string(5000, 'X') << "\tERROR\n";
    }
    SetArguments({"/discover"});
    kelvo::LogFile log = kelvo::CreateLogFile();
    ASSERT_NE(kelvo::kInvalidLog, log);
    kelvo::CloseLogFile(log);
    EXPECT_EQ(std::string("/discover ") + kHeader, ReadLog());
}

TEST_F(ResultLog, LongCommandLineIsEchoedWhole) {
    const std::string path = "/firmware=/" + std::string(3000, 'd') + "/fw.bin";
    SetArguments({"/upload", "/ip=10.0.0.1", path, "/password=" + std::string(255, 'p')});
    kelvo::LogFile log = kelvo::CreateLogFile();
    ASSERT_NE(kelvo::kInvalidLog, log);
    kelvo::CloseLogFile(log);
    // The password is never echoed, nor its length.
    const std::string echo = "/upload /ip=10.0.0.1 " + path + " /password=******** ";
    ASSERT_GT(echo.size(), 1024u);
    EXPECT_EQ(echo + kHeader, ReadLog());
}

TEST_F(ResultLog, UnusableFileReportsCreateAndEachWrite) {
    ASSERT_EQ(0, mkdir("kelvoprog.log", 0755));
    SetArguments({"/discover"});
    testing::internal::CaptureStderr();
    kelvo::LogFile log = kelvo::CreateLogFile();
    EXPECT_EQ(kelvo::kInvalidLog, log);
    const uint8_t mac[6] = {};
    EXPECT_FALSE(kelvo::WriteLogData(log, kMarker, sizeof kMarker - 1));
    EXPECT_FALSE(kelvo::WriteLogEntry(log, 5, mac));
    kelvo::CloseLogFile(log);
    EXPECT_EQ(
        "ERROR: Failed to create log file.\n"
        "ERROR: Failed to write to log file.\n"
        "ERROR: Failed to write to log file.\n",
        testing::internal::GetCapturedStderr());
}

TEST_F(ResultLog, FailedWriteIsReported) {
    // Writes to a full device fail; the message names the log, not the cause.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    ASSERT_EQ(0, symlink("/dev/full", "kelvoprog.log"));
    SetArguments({"/discover"});
    testing::internal::CaptureStderr();
    kelvo::LogFile log = kelvo::CreateLogFile();
    ASSERT_NE(kelvo::kInvalidLog, log);
    kelvo::CloseLogFile(log);
    // The failed echo leaves out the header: one message only.
    EXPECT_EQ("ERROR: Failed to write to log file.\n", testing::internal::GetCapturedStderr());
}

}  // namespace
