// JSON-lines record of every datagram received and every decision taken,
// flushed line by line so that a test can read it while the simulator runs.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace quexsim {

class Journal {
public:
    Journal();
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    bool Open(const std::string& path);
    bool enabled() const { return file_ != nullptr; }
    // Milliseconds since the journal was created.
    double NowMs() const;
    // Adds "t_ms" and writes one line.
    void Write(nlohmann::json entry);

private:
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace quexsim
