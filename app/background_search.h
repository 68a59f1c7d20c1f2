// A synchronous search run on a thread of its own, so that the searches of
// both magics take one quiet time together instead of one after the other.
#pragma once

#include <cstdint>

#include <quex/quex.h>

#include "platform/sync.h"

namespace kelvo {

class BackgroundSearch {
public:
    BackgroundSearch() = default;
    ~BackgroundSearch();  // waits for a search still running
    BackgroundSearch(const BackgroundSearch&) = delete;
    BackgroundSearch& operator=(const BackgroundSearch&) = delete;

    // Starts the search of the front end's times on handle. When no thread
    // can be made, the search runs in Result() instead.
    void Start(QuexHandle handle);
    // What QUEXStartSyncSearchEx returned, once the search has ended.
    int32_t Result();

private:
    QuexHandle handle_ = nullptr;
    platform::Thread thread_;
    bool running_ = false;
    bool done_ = false;
    int32_t found_ = QUEX_FAILED;
};

}  // namespace kelvo
