// FTP upload over libcurl: log in first, then open the local file and store
// it in image mode over the same connection. Active mode (PORT) on port 21.
// Every wait is bounded, so a server that stalls ends the upload as a failure.
#include <cstdio>
#include <mutex>
#include <curl/curl.h>

#include "platform/file.h"
#include "platform/ftp.h"

namespace platform {

namespace {

constexpr long kConnectTimeoutS = 30;
constexpr long kResponseTimeoutS = 60;    // each reply of the server
constexpr long kAcceptTimeoutMs = 60000;  // the server's data connection back to us (active mode)
constexpr long kLowSpeedLimitBytes = 1;   // a transfer that moves less than this per second ...
constexpr long kLowSpeedTimeS = 60;       // ... for this long has stalled

CURL* Handle(void* impl) { return static_cast<CURL*>(impl); }

size_t ReadFromFile(char* buffer, size_t size, size_t count, void* file) {
    return std::fread(buffer, size, count, static_cast<std::FILE*>(file));
}

// Closes the local file on every path.
struct LocalFile {
    std::FILE* file = nullptr;
    ~LocalFile() {
        if (file != nullptr) std::fclose(file);
    }
};

}  // namespace

FtpSession::FtpSession() = default;

FtpSession::~FtpSession() {
    if (impl_ != nullptr) curl_easy_cleanup(Handle(impl_));
}

bool FtpSession::Initialize() {
    // A plan uploads from several threads: libcurl's global set-up runs once, first.
    static std::once_flag globalSetUp;
    std::call_once(globalSetUp, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (impl_ == nullptr) impl_ = curl_easy_init();
    if (impl_ == nullptr) {
        lastError_ = CURLE_FAILED_INIT;
        return false;
    }
    CURL* curl = Handle(impl_);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_PROXY, "");     // no proxy from the environment
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");  // active mode, the control connection's address
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 0L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutS);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, kAcceptTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedTimeS);
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);  // TYPE I
    return true;
}

bool FtpSession::Connect(const char* host, const char* user, const char* password) {
    if (impl_ == nullptr) {
        lastError_ = CURLE_FAILED_INIT;
        return false;
    }
    CURL* curl = Handle(impl_);
    host_ = host;
    user_ = user;
    password_ = password;
    const std::string url = "ftp://" + host_ + ":21/";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);  // connect and log in, transfer nothing
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    if (code != CURLE_OK) {
        lastError_ = static_cast<uint32_t>(code);
        return false;
    }
    return true;
}

bool FtpSession::PutFile(const char* localPath, const char* remoteName) {
    if (impl_ == nullptr) {
        lastError_ = CURLE_FAILED_INIT;
        return false;
    }
    CURL* curl = Handle(impl_);
    // Only a readable regular file is offered, so a bad local path never
    // leaves an empty file on the server; opened as every input file is,
    // without blocking.
    LocalFile local;
    uint64_t size = 0;
    InputFileError error;
    const FileHandle fd = InputFileOpen(localPath, size, error);
    if (fd == kInvalidFile || (local.file = fdopen(fd, "rb")) == nullptr) {
        InputFileClose(fd);
        lastError_ = CURLE_READ_ERROR;
        return false;
    }

    char* escaped = curl_easy_escape(curl, remoteName, 0);
    if (escaped == nullptr) {
        lastError_ = CURLE_OUT_OF_MEMORY;
        return false;
    }
    const std::string url = "ftp://" + host_ + ":21/" + escaped;
    curl_free(escaped);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadFromFile);
    curl_easy_setopt(curl, CURLOPT_READDATA, local.file);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curl, CURLOPT_READDATA, nullptr);
    if (code != CURLE_OK) {
        lastError_ = static_cast<uint32_t>(code);
        return false;
    }
    return true;
}

uint32_t FtpSession::LastError() const { return lastError_; }

std::string FtpSession::ErrorText(uint32_t code) const {
    const char* text = curl_easy_strerror(static_cast<CURLcode>(code));
    return text != nullptr ? text : "";
}

}  // namespace platform
