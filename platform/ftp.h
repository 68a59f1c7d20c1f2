// FTP upload client: log in on port 21 (active mode), store one file in
// image mode. Error codes are the client's own numbers, with texts.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class FtpSession {
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;
    // Sets up the client; false: "Failed to initialize FTP session."
    bool Initialize();
    // Connects to host:21 and logs in; false when unreachable or refused.
    bool Connect(const char* host, const char* user, const char* password);
    // Stores localPath as remoteName (any characters, sent as they are).
    bool PutFile(const char* localPath, const char* remoteName);
    // The code of the last failure (unsigned) and its text ("" when none).
    uint32_t LastError() const;
    std::string ErrorText(uint32_t code) const;

private:
    void* impl_ = nullptr;
    uint32_t lastError_ = 0;
    std::string host_, user_, password_;
};

// The name the file at path is stored under: the text after the last "/" or
// "\" (either separates folders on Windows, and the rule is the same on
// every system), the whole path when it has neither, "" when it ends in one.
std::string RemoteFileName(const char* path);

}  // namespace platform
