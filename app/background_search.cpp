// A synchronous search on a thread of its own.
#include "app/background_search.h"

#include "app/search_settings.h"

namespace kelvo {

BackgroundSearch::~BackgroundSearch() {
    if (running_) thread_.Join();
}

void BackgroundSearch::Start(QuexHandle handle) {
    handle_ = handle;
    running_ =
        thread_.Start([this] { found_ = QUEXStartSyncSearchEx(handle_, kSearchQuietMs, kSearchMaxMs); });
}

int32_t BackgroundSearch::Result() {
    if (done_) return found_;
    if (running_) {
        thread_.Join();  // found_ is written by the thread before it ends
        running_ = false;
    } else {
        found_ = QUEXStartSyncSearchEx(handle_, kSearchQuietMs, kSearchMaxMs);
    }
    done_ = true;
    return found_;
}

}  // namespace kelvo
