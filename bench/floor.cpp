// The floor that opening a log is measured against: the least a program must do to read a
// file and index its line starts, with mmap and memchr, keeping 8 bytes a line. Given several
// files it reads them one after another and keeps every index, as a viewer with each open would.
//
//   floor <path>...  prints the milliseconds taken and the line starts found, over all the files

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc < 2)
        return 2;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::vector<std::int64_t>> indexes;
    std::vector<std::pair<const char*, std::size_t>> mapped;
    std::vector<int> files;
    std::size_t lines = 0;
    for (int i = 1; i < argc; ++i) {
        const int fd = ::open(argv[i], O_RDONLY);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0)
            return 1;
        const std::size_t size = static_cast<std::size_t>(st.st_size);
        const char* text = static_cast<const char*>(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
        if (text == MAP_FAILED)
            return 1;
        std::vector<std::int64_t>& starts = indexes.emplace_back(1, 0);
        for (const char* at = text; (at = static_cast<const char*>(std::memchr(at, '\n', size - (at - text))));)
            starts.push_back(++at - text);
        lines += starts.size();
        mapped.emplace_back(text, size);
        files.push_back(fd);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f ms, %zu lines\n", ms, lines);
    for (const auto& [text, size] : mapped)
        ::munmap(const_cast<char*>(text), size);
    for (const int fd : files)
        ::close(fd);
    return 0;
}
