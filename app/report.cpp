// Reports: the texts of a device operation on their way to the console.
#include "app/report.h"

#include <algorithm>

#include "app/console.h"
#include "platform/sync.h"
#include "platform/terminal.h"

namespace kelvo {

namespace {

// Shorter waits (the address wait's one-second steps, which stand inside a
// progress line) pass without a countdown.
constexpr uint32_t kCountdownMinMs = 5000;

// A continuation line as part of a one-line message: no tabs, no ends.
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

void Report::Write(bool toError, const std::string& text) {
    switch (sink_) {
    case ReportSink::Console:
        if (toError)
            Err(text.c_str());
        else
            Out(text.c_str());
        break;
    case ReportSink::StandardError:
        Err(text.c_str());
        break;
    case ReportSink::Silent:
        break;
    }
}

void Report::Progress(const std::string& text) { Write(false, text); }

void Report::Line(const std::string& text) { Write(false, text + "\n"); }

void Report::Result(const std::string& text) {
    Write(false, text + "\n");
    message_ = text;
    errorOpen_ = false;
}

void Report::Error(const std::string& text, const std::string& deviceText) {
    Write(true, "ERROR: " + text + ConsoleSafe(deviceText) + "\n");
    message_ = text + deviceText;
    errorOpen_ = true;
}

void Report::ErrorMore(const std::string& text) {
    Write(true, text + "\n");
    const std::string more = Trimmed(text);
    if (!errorOpen_)
        message_ = more;
    else if (!more.empty())
        message_ += " " + more;
    errorOpen_ = true;
}

void Report::SplitError(const std::string& errorPart, const std::string& outputPart) {
    Write(true, errorPart);
    Write(false, outputPart + "\n");
    message_ = errorPart + outputPart;
    errorOpen_ = true;
}

void Report::Pause(uint32_t ms) { platform::SleepMs(ms); }

bool Report::StopIfInterrupted() {
    if (!stopped_ && Interrupted()) stopped_ = true;
    return stopped_;
}

void ConsoleReport::Pause(uint32_t ms) {
    if (ms < kCountdownMinMs || !platform::StandardErrorIsTerminal()) return Report::Pause(ms);
    const uint64_t end = platform::MonotonicMs() + ms;
    for (uint64_t now = platform::MonotonicMs(); now < end; now = platform::MonotonicMs()) {
        const uint64_t left = end - now;
        LiveLine("waiting " + std::to_string((left + 999) / 1000) + " s");
        platform::SleepMs(static_cast<uint32_t>(std::min<uint64_t>(left, (left - 1) % 1000 + 1)));
    }
    LiveLine("");
}

}  // namespace kelvo
