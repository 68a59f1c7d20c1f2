// The plan runner: a pool of workers that each take the next row the moment
// they are free; results are printed and logged under one lock, so lines
// never interleave.
#include "app/plan_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "app/console.h"
#include "app/device_run.h"
#include "app/exit_status.h"
#include "app/run_messages.h"
#include "app/run_result.h"
#include "platform/interrupt.h"
#include "platform/ipv4_text.h"
#include "platform/sync.h"
#include "platform/terminal.h"

namespace kelvo {

namespace {

const char kPlanFormat[] = "kelvoprog-plan/1";
const char kInterruptedText[] = "Interrupted before it was done.";
constexpr uint32_t kProgressRedrawMs = 1000;

// A row's messages: silent, and stopped before its change once Ctrl-C came.
class RowMessages : public RunMessages {
public:
    RowMessages() : RunMessages(MessageRoute::Silent) {}
    bool Interrupted() const override { return platform::InterruptRequested(); }
};

std::string TableLine(const RunResult& result) {
    return FormatMac(result.mac) + "  " + (result.ip != 0 ? platform::FormatIPv4(result.ip) : "-") + "  " +
           (result.status == kStatusOk ? "OK" : "ERROR") + "  " + result.message;
}

class PlanRunner {
public:
    PlanRunner(const CommandLine& cmd, const std::vector<PlanRow>& rows, LogFile log)
        : cmd_(cmd),
          rows_(rows),
          log_(log),
          statuses_(rows.size(), kStatusOk),
          showProgress_(platform::StandardErrorIsTerminal()),
          startMs_(platform::MonotonicMs()) {}

    int Run() {
        if (cmd_.format == OutputFormat::Csv) Document(ResultCsvHeader() + "\r\n");
        const size_t workerCount = std::min<size_t>(cmd_.parallel, rows_.size());
        {
            std::vector<std::unique_ptr<platform::Thread>> workers;
            for (size_t i = 0; i < workerCount; ++i) {
                workers.push_back(std::make_unique<platform::Thread>());
                if (!workers.back()->Start([this] { Work(); })) workers.pop_back();
            }
            if (workers.empty()) Work();  // no thread to be had: one at a time, here
            while (!AllEnded()) {
                finished_.Wait(kProgressRedrawMs);
                std::lock_guard<std::mutex> lock(mutex_);
                DrawProgress();
            }
        }  // the workers are joined here
        return Finish();
    }

private:
    void Work() {
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (next_ >= rows_.size() || platform::InterruptRequested()) return;
                index = next_++;
                ++running_;
                DrawProgress();
            }
            const CommandLine rowCmd = RowCommandLine(cmd_, rows_[index]);
            RowMessages messages;
            const DeviceRun run = RunDevice(rowCmd, messages);
            RunResult result = MakeRunResult(rowCmd, run, messages);
            if (messages.Stopped()) {
                result.status = kStatusInterrupted;
                result.message = kInterruptedText;
            }
            Ended(index, result);
        }
    }

    bool AllEnded() {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_ == 0 && (next_ >= rows_.size() || platform::InterruptRequested());
    }

    void Ended(size_t index, const RunResult& result) {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        ++ended_;
        statuses_[index] = result.status;
        if (result.status != kStatusOk) ++failed_;
        EraseProgress();
        Print(rows_[index], result);
        LogEntry(result.status, result.mac);
        DrawProgress();
        finished_.Set();
    }

    void Print(const PlanRow& row, const RunResult& result) {
        switch (cmd_.format) {
        case OutputFormat::Table:
            OutLine(ConsoleSafe(TableLine(result)).c_str());  // the message may hold a device's text
            break;
        case OutputFormat::Json: {
            nlohmann::ordered_json line = nlohmann::ordered_json::parse(ResultJsonLine(result));
            line["line"] = row.line;
            Document(line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
            break;
        }
        case OutputFormat::Csv:
            Document(ResultCsvRow(result) + "\r\n");
            break;
        }
    }

    // The bytes of a single run's entry; after the first failed write, none.
    void LogEntry(int status, const uint8_t mac[6]) {
        if (logFailed_) return;
        if (status != kStatusOk && !WriteLogMarker(log_))
            logFailed_ = true;
        else if (!WriteLogEntry(log_, status, mac))
            logFailed_ = true;
    }

    int Finish() {
        EraseProgress();
        const bool interrupted = platform::InterruptRequested();
        const size_t notStarted = rows_.size() - next_;
        for (size_t i = next_; i < rows_.size(); ++i) LogEntry(kStatusInterrupted, rows_[i].mac);
        if (interrupted)
            OutLine(("Interrupted: " + std::to_string(notStarted) + " devices not started.").c_str());
        OutLine((std::to_string(ended_) + " devices done, " + std::to_string(failed_) + " failed.").c_str());

        const int status = Status(interrupted);
        if (cmd_.format == OutputFormat::Json) {
            nlohmann::ordered_json summary;
            summary["format"] = kPlanFormat;
            summary["devices"] = ended_;
            summary["failed"] = failed_;
            summary["not_started"] = notStarted;
            summary["interrupted"] = interrupted;
            summary["status"] = status;
            Document(summary.dump() + "\n");
        }
        return status;
    }

    int Status(bool interrupted) const {
        if (interrupted) return kStatusInterrupted;
        for (int status : statuses_)
            if (status != kStatusOk) return status;
        return logFailed_ ? kStatusLogFailed : kStatusOk;
    }

    // The live line on a terminal's standard error; redrawn in place.
    void DrawProgress() {
        if (!showProgress_) return;
        const uint64_t seconds = (platform::MonotonicMs() - startMs_) / 1000;
        char clock[32];
        std::snprintf(clock, sizeof clock, "%02u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
        const std::string text = "done " + std::to_string(ended_) + "/" + std::to_string(rows_.size()) +
                                 ", running " + std::to_string(running_) + ", waiting " +
                                 std::to_string(rows_.size() - next_) + ", " + clock + " elapsed";
        LiveLine(text);
        progressShown_ = true;
    }

    void EraseProgress() {
        if (!progressShown_) return;
        LiveLine("");
        progressShown_ = false;
    }

    const CommandLine& cmd_;
    const std::vector<PlanRow>& rows_;
    LogFile log_;
    std::mutex mutex_;  // over the counters, the output and the log; never taken twice
    platform::Event finished_;
    std::vector<int> statuses_;  // per row; kStatusOk for rows not ended
    size_t next_ = 0;            // rows before it have been started
    size_t running_ = 0;
    size_t ended_ = 0;
    size_t failed_ = 0;
    bool logFailed_ = false;
    const bool showProgress_;
    bool progressShown_ = false;
    const uint64_t startMs_;
};

}  // namespace

CommandLine RowCommandLine(const CommandLine& cmd, const PlanRow& row) {
    CommandLine rowCmd = cmd;
    std::memcpy(rowCmd.mac, row.mac, sizeof rowCmd.mac);
    rowCmd.useDhcp = row.useDhcp;
    rowCmd.ip = row.ip;
    rowCmd.subnet = row.subnet;
    rowCmd.gateway = row.gateway;
    if (row.magicCount > 0) {
        std::memcpy(rowCmd.magics, row.magics, sizeof rowCmd.magics);
        rowCmd.magicCount = row.magicCount;
    }
    rowCmd.planPath[0] = '\0';
    return rowCmd;
}

int RunPlan(const CommandLine& cmd, const std::vector<PlanRow>& rows, LogFile log) {
    PlanRunner runner(cmd, rows, log);
    return runner.Run();
}

}  // namespace kelvo
