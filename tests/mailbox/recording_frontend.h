#pragma once
// A job front end for tests: records what the job posted and sent.
#include <mutex>
#include <vector>

#include "mailbox/job_frontend.h"

namespace parvelle::mailbox::testing {

struct RecordedNotification {
    Notification what;
    std::int64_t wParam;
    bool sent;
};

class RecordingFrontEnd : public JobFrontEnd {
public:
    void send(Notification n, std::int64_t wParam, const void*) override {
        std::lock_guard lock(mutex);
        if (n != Notification::Progress)
            events.push_back({n, wParam, true});
        else
            ++progressCount;
        if (onProgress && n == Notification::Progress)
            onProgress();
    }
    void post(Notification n, std::int64_t wParam, std::int64_t) override {
        std::lock_guard lock(mutex);
        events.push_back({n, wParam, false});
    }
    void closeJobWindows() override { ++windowsClosed; }

    std::vector<RecordedNotification> posted(Notification n) const {
        std::vector<RecordedNotification> out;
        for (const auto& e : events)
            if (e.what == n && !e.sent)
                out.push_back(e);
        return out;
    }

    std::mutex mutex;
    std::vector<RecordedNotification> events;
    std::size_t progressCount = 0;
    int windowsClosed = 0;
    std::function<void()> onProgress;
};

} // namespace parvelle::mailbox::testing
