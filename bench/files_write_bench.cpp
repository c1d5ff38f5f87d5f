// The least an export of many files costs on this disk: writes COUNT files of SIZE bytes (base64
// text) spread over FOLDERS folders below DIR, one create, write and close each, on one thread,
// with nothing to read or encode. eml_export_bench.sh times it next to the export and `cp`.
//   files_write_bench DIR COUNT SIZE [FOLDERS]
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: files_write_bench DIR COUNT SIZE [FOLDERS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    const auto size = static_cast<std::size_t>(std::strtoul(argv[3], nullptr, 10));
    const long folders = argc > 4 ? std::max(1L, std::strtol(argv[4], nullptr, 10)) : 1;
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = (i % 77 == 76) ? '\n' : kAlphabet[(i * 7919) % 64];
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::perror(dir.c_str());
        return 1;
    }
    for (long f = 0; f < folders; ++f) {
        const std::string folder = dir + "/folder " + std::to_string(f);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            std::perror(folder.c_str());
            return 1;
        }
    }
    for (long i = 0; i < count; ++i) {
        const std::string path = dir + "/folder " + std::to_string(i % folders) + "/message " +
                                 std::to_string(i) + ".eml";
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0) {
            std::perror(path.c_str());
            return 1;
        }
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd, bytes.data() + done, size - done);
            if (n <= 0) {
                std::perror(path.c_str());
                return 1;
            }
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
    return 0;
}
