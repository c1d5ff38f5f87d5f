#include "cli/cli_frontend.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace parvelle::cli {
namespace {

std::atomic<std::int32_t>* g_stopFlag = nullptr;

extern "C" void onStopSignal(int) {
    if (g_stopFlag != nullptr)
        g_stopFlag->store(1);
}

const char* modeText(mailbox::ProgressMode mode) {
    switch (mode) {
    case mailbox::ProgressMode::Scanning:
        return "Scanning";
    case mailbox::ProgressMode::Saving:
        return "Saving";
    case mailbox::ProgressMode::Listing:
        return "Listing";
    default:
        return "Working";
    }
}

} // namespace

void installStopHandler(mailbox::JobState& state) {
    static_assert(std::atomic<std::int32_t>::is_always_lock_free);
    g_stopFlag = &state.stopRequested;
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void removeStopHandler() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    g_stopFlag = nullptr;
}

CliFrontEnd::CliFrontEnd(mailbox::JobState& state)
    : state_(state), terminal_(::isatty(STDERR_FILENO) == 1) {}

CliFrontEnd::~CliFrontEnd() {
    finishProgress();
}

void CliFrontEnd::send(mailbox::Notification n, std::int64_t, const void*) {
    if (!terminal_ || n != mailbox::Notification::Progress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (lineShown_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    const std::int64_t total = state_.bytesTotal.load();
    const int percent =
        total > 0 ? static_cast<int>(100.0 * static_cast<double>(state_.bytesDone.load()) / total)
                  : 0;
    std::string folder = state_.currentFolderName;
    if (folder.size() > 50)
        folder = folder.substr(0, 47) + "...";
    if (state_.progressMode.load() == mailbox::ProgressMode::Saving)
        std::fprintf(stderr, "\r\033[KSaving %lld item(s)  %s",
                     static_cast<long long>(state_.itemsSaved.load() + state_.itemsFailed.load()),
                     folder.c_str());
    else
        std::fprintf(stderr, "\r\033[K%s %3d%%  %s", modeText(state_.progressMode.load()), percent,
                     folder.c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

void CliFrontEnd::post(mailbox::Notification n, std::int64_t wParam, std::int64_t) {
    if (n == mailbox::Notification::Ended)
        stopped_ = wParam == 0;
    if (n == mailbox::Notification::SaveDone)
        saveDone_ = true;
}

int CliFrontEnd::showMessage(const std::string& text, mailbox::MessageIcon) {
    finishProgress();
    // Message boxes break lines for layout; a terminal gets one sentence per line.
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            while (i + 1 < text.size() && text[i + 1] == ' ')
                ++i;
            line += ' ';
        } else {
            line += text[i];
        }
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    lastMessage_ = text;
    return 1;
}

void CliFrontEnd::finishProgress() {
    if (lineShown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        lineShown_ = false;
    }
}

} // namespace parvelle::cli
