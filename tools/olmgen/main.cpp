// olmgen: writes the fixture archives from the command line.
//
//   olmgen sample OUT.olm [--deflate]
//   olmgen large OUT.olm [--mails N] [--attachment-bytes N] [--contacts N] [--groups N]
//                        [--events N] [--tasks N] [--notes N] [--seed N] [--deflate]
//                        (--attachment-bytes is the total over all attachments)
//   olmgen damaged MODE OUT.olm [--deflate]      (the sample archive, damaged)
#include "olmgen/olmgen.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace parvelle::olmgen;

int usage() {
    std::fputs("usage: olmgen sample OUT.olm [--deflate]\n"
               "       olmgen large OUT.olm [--mails N] [--attachment-bytes N] [--contacts N]\n"
               "                            [--groups N] [--events N] [--tasks N] [--notes N]\n"
               "                            [--seed N] [--deflate]\n"
               "       (--attachment-bytes: total over all attachments; default 1e9)\n"
               "       olmgen damaged MODE OUT.olm [--deflate]\n"
               "damage modes:",
               stderr);
    for (Damage damage : allDamageModes()) {
        std::fprintf(stderr, " %.*s", static_cast<int>(damageName(damage).size()),
                     damageName(damage).data());
    }
    std::fputc('\n', stderr);
    return 2;
}

bool parseCount(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && ptr == end;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usage();
    }
    const std::string_view command = args[0];
    WriteOptions write;
    LargeOptions large;
    std::vector<std::string_view> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--deflate") {
            write.compression = Compression::Deflated;
            continue;
        }
        if (!arg.starts_with("--")) {
            positional.push_back(arg);
            continue;
        }
        std::uint64_t value = 0;
        if (i + 1 >= args.size() || !parseCount(args[i + 1], value)) {
            std::fprintf(stderr, "olmgen: %.*s needs a number\n", static_cast<int>(arg.size()),
                         arg.data());
            return 2;
        }
        ++i;
        if (arg == "--mails") {
            large.mails = value;
        } else if (arg == "--attachment-bytes") {
            large.attachmentBytes = value;
        } else if (arg == "--contacts") {
            large.contacts = value;
        } else if (arg == "--groups") {
            large.groups = value;
        } else if (arg == "--events") {
            large.events = value;
        } else if (arg == "--tasks") {
            large.tasks = value;
        } else if (arg == "--notes") {
            large.notes = value;
        } else if (arg == "--seed") {
            large.seed = value;
        } else {
            return usage();
        }
    }

    ArchiveDescription description;
    std::string_view out;
    if (command == "sample" && positional.size() == 1) {
        description = sampleDescription();
        out = positional[0];
    } else if (command == "large" && positional.size() == 1) {
        description = largeDescription(large);
        out = positional[0];
    } else if (command == "damaged" && positional.size() == 2) {
        const std::optional<Damage> damage = damageFromName(positional[0]);
        if (!damage) {
            std::fprintf(stderr, "olmgen: unknown damage mode %.*s\n",
                         static_cast<int>(positional[0].size()), positional[0].data());
            return usage();
        }
        write.damage = *damage;
        description = sampleDescription();
        out = positional[1];
    } else {
        return usage();
    }

    const auto started = std::chrono::steady_clock::now();
    const WriteResult result = writeArchive(description, std::filesystem::path(out), write);
    if (!result.ok()) {
        std::fprintf(stderr, "olmgen: %s\n", result.error.c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::error_code error;
    const auto bytes = std::filesystem::file_size(std::filesystem::path(out), error);
    std::fprintf(stderr, "olmgen: wrote %.*s: %zu items, %llu bytes in %.2f s\n",
                 static_cast<int>(out.size()), out.data(), result.facts.items.size(),
                 static_cast<unsigned long long>(error ? 0 : bytes), seconds);
    if (!result.facts.damagedMember.empty()) {
        std::fprintf(stderr, "olmgen: damaged member %s\n", result.facts.damagedMember.c_str());
    }
    return 0;
}
