// Writes a PST of many messages with attachments and compares its speed with a plain sequential
// write of the same number of bytes made in the same run.
//
//   pst_write_bench [messages=100000] [attachment MB in total=2048] [directory=/tmp]
#include "store/mapi/tags.h"
#include "store/pst/pst_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace parvelle;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::atol(argv[1]) : 100000;
    const long long attachmentMb = argc > 2 ? std::atoll(argv[2]) : 2048;
    const std::string dir = argc > 3 ? argv[3] : "/tmp";
    const std::string pstPath = dir + "/pst_write_bench.pst";
    const std::string rawPath = dir + "/pst_write_bench.raw";
    const std::size_t perMessage =
        static_cast<std::size_t>(attachmentMb * 1024 * 1024 / std::max(messages, 1L));
    mapi::Binary content(perMessage);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 131 + 7);

    std::remove(pstPath.c_str());
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    auto store = pst::PstStore::create(pstPath, {}, error);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto folder = store->addFolder(store->rootFolder(), "Bench", "IPF.Note", error);
    for (long i = 0; folder && i < messages; ++i) {
        mapi::Message m;
        m.props.setString(mapi::tags::kSubject, "Benchmark message " + std::to_string(i));
        m.props.setString(mapi::tags::kBody, "A short body for message " + std::to_string(i));
        m.recipients.push_back(mapi::Recipient::make("Bench", "bench@example.org", 1));
        // Contents are read when the store asks, as the converter's attachments are.
        mapi::AttachmentContent lazy;
        lazy.size = content.size();
        lazy.read = [&content](std::uint64_t offset, std::span<std::uint8_t> out) {
            std::copy_n(content.begin() + static_cast<long>(offset), out.size(), out.begin());
            return true;
        };
        m.attachments.push_back(mapi::Attachment::byValue("data.bin", std::move(lazy)));
        if (!store->addMessage(*folder, std::move(m), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    if (!store->close(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double pstSeconds = seconds(start);
    std::ifstream sized(pstPath, std::ios::binary | std::ios::ate);
    const long long bytes = static_cast<long long>(sized.tellg());

    // The reference: the same number of bytes in one sequential write loop, flushed to disk.
    const auto rawStart = std::chrono::steady_clock::now();
    {
        std::vector<char> chunk(8 << 20, 'x');
        std::FILE* f = std::fopen(rawPath.c_str(), "wb");
        for (long long done = 0; f && done < bytes; done += static_cast<long long>(chunk.size()))
            std::fwrite(chunk.data(), 1,
                        static_cast<std::size_t>(std::min<long long>(chunk.size(), bytes - done)),
                        f);
        if (f) {
            std::fflush(f);
            fsync(fileno(f));
            std::fclose(f);
        }
    }
    const double rawSeconds = seconds(rawStart);
    std::remove(rawPath.c_str());
    std::remove(pstPath.c_str());

    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("pst write: %ld messages, %.0f MB in %.2f s = %.1f MB/s\n", messages, mb,
                pstSeconds, mb / pstSeconds);
    std::printf("sequential write of the same bytes: %.2f s = %.1f MB/s\n", rawSeconds,
                mb / rawSeconds);
    std::printf("ratio (pst / sequential speed): %.2f; peak memory %ld MB\n",
                rawSeconds / pstSeconds, peakRssMb());
    return 0;
}
