#include "tools/quexsim/journal.h"

#include <cmath>

namespace quexsim {

Journal::Journal() : start_(std::chrono::steady_clock::now()) {}

Journal::~Journal() {
    if (file_) std::fclose(file_);
}

bool Journal::Open(const std::string& path) {
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

double Journal::NowMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
}

void Journal::Write(nlohmann::json entry) {
    if (!file_) return;
    entry["t_ms"] = std::round(NowMs() * 10.0) / 10.0;
    // Invalid UTF-8 from a device file text must not abort the run.
    const std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace quexsim
