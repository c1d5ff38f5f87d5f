// The appender that writes a PST's appended bytes on a thread of its own, several buffers at a
// time: every byte lands where it belongs, actions queued behind the writes see all bytes handed
// over before them in the file, and a failed write is reported and stops what follows.
#include "store/pst/staged_appender.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace parvelle::pst::test {
namespace {

constexpr std::size_t kBuffer = StagedAppender::kBufferBytes;

std::uint8_t patternAt(std::uint64_t offset) {
    return static_cast<std::uint8_t>((offset * 131) ^ (offset >> 11));
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint64_t fileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

class File {
public:
    File(const std::string& path, int flags) : fd_(::open(path.c_str(), flags, 0644)) {}
    ~File() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Pieces of these sizes are appended one after the other from `start` on; the runs cover
// several buffers handed over before the first is written, and pieces that end exactly at a
// buffer's end.
TEST(StagedAppender, BytesLandInPlaceAndActionsSeeEverythingBeforeThem) {
    struct Case {
        const char* name;
        std::uint64_t start;
        std::vector<std::size_t> pieces;
    };
    const Case cases[] = {
        {"small pieces", 0, std::vector<std::size_t>(3000, 9001)},
        {"whole buffers", 512, std::vector<std::size_t>(5, kBuffer)},
        {"mixed, from an odd offset", 17408, {1, kBuffer - 1, 64, kBuffer / 2, kBuffer, 3, 70000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        parvelle::testing::TempDir dir;
        const std::string path = (dir / "append.bin").string();
        File file(path, O_RDWR | O_CREAT | O_TRUNC);
        ASSERT_GE(file.fd(), 0);
        ASSERT_EQ(::ftruncate(file.fd(), static_cast<off_t>(c.start)), 0);

        std::mutex seenMutex;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> seen; // (expected end, file size)
        std::vector<std::uint64_t> handedOver;
        {
            StagedAppender out(file.fd(), c.start);
            out.beforeHandOver([&](std::uint64_t base, std::span<std::uint8_t> bytes) {
                handedOver.push_back(base);
                EXPECT_EQ(base + bytes.size(), out.end());
            });
            std::uint64_t end = c.start;
            for (std::size_t i = 0; i < c.pieces.size(); ++i) {
                std::uint8_t* p = out.extend(end + c.pieces[i]);
                for (std::size_t k = 0; k < c.pieces[i]; ++k)
                    p[k] = patternAt(end + k);
                end += c.pieces[i];
                if (i % 7 == 3) {
                    out.flush();
                    out.afterWritten([&, end] {
                        const std::lock_guard lock(seenMutex);
                        seen.emplace_back(end, fileSize(file.fd()));
                        return std::string();
                    });
                }
            }
            out.flush();
            std::string error;
            ASSERT_TRUE(out.wait(error)) << error;
            ASSERT_EQ(out.end(), end);
        }

        const std::vector<std::uint8_t> bytes = fileBytes(path);
        std::uint64_t total = c.start;
        for (std::size_t piece : c.pieces)
            total += piece;
        ASSERT_EQ(bytes.size(), total);
        for (std::uint64_t at = c.start; at < total; ++at) {
            ASSERT_EQ(bytes[at], patternAt(at)) << "offset " << at;
        }
        ASSERT_FALSE(handedOver.empty());
        EXPECT_EQ(handedOver.front(), c.start);
        // Each action ran after every byte handed over before it was in the file, in order.
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_GE(seen[i].second, seen[i].first) << "action " << i;
            if (i > 0) {
                EXPECT_LT(seen[i - 1].first, seen[i].first) << "action " << i;
            }
        }
        EXPECT_EQ(seen.size(), (c.pieces.size() + 3) / 7);
    }
}

// A file that takes no writes: the first error is reported, actions queued behind it are
// skipped, and an action's own failure is the appender's error when the writes went well.
TEST(StagedAppender, FailuresAreReportedAndStopWhatFollows) {
    parvelle::testing::TempDir dir;
    const std::string path = (dir / "readonly.bin").string();
    { File create(path, O_RDWR | O_CREAT | O_TRUNC); }
    {
        File file(path, O_RDONLY);
        StagedAppender out(file.fd(), 0);
        bool actionRan = false;
        for (int i = 0; i < 3; ++i)
            std::fill_n(out.extend(out.end() + kBuffer), kBuffer, std::uint8_t{1});
        out.flush();
        out.afterWritten([&] {
            actionRan = true;
            return std::string();
        });
        std::string error;
        EXPECT_FALSE(out.wait(error));
        EXPECT_NE(error.find("cannot write the PST file"), std::string::npos) << error;
        EXPECT_FALSE(actionRan);
        std::string later;
        EXPECT_FALSE(out.healthy(later));
        EXPECT_EQ(later, error);
    }
    {
        File file(path, O_RDWR | O_TRUNC);
        StagedAppender out(file.fd(), 0);
        std::fill_n(out.extend(100), 100, std::uint8_t{2});
        out.flush();
        out.afterWritten([] { return std::string("the commit failed"); });
        std::string error;
        EXPECT_FALSE(out.wait(error));
        EXPECT_EQ(error, "the commit failed");
    }
}

} // namespace
} // namespace parvelle::pst::test
