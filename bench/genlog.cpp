// Writes a test log: timestamped lines of 60 to 200 bytes, about one in twenty with an error
// word, from a fixed seed, so that every run measures the same bytes.
//
//   genlog <megabytes> <path> [crlf]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: genlog <megabytes> <path> [crlf]\n");
        return 2;
    }
    const long long bytes = std::atoll(argv[1]) * 1024LL * 1024LL;
    const bool crlf = argc > 3 && std::strcmp(argv[3], "crlf") == 0;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    std::mt19937 random(20261207);
    const char* words[] = {"request", "served", "user", "session", "cache", "disk", "queue",
                           "worker", "Started", "txt", "timeout", "retry", "ok", "payload",
                           "connection", "handshake", "GET", "POST", "200", "404"};
    const char* errors[] = {"error", "Failed", "Fatal", "Internal"};
    std::string line;
    long long written = 0;
    for (long long n = 0; written < bytes; ++n) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "2026-12-07 %02lld:%02lld:%02lld.%03lld [%05lld]",
                      n / 3600000 % 24, n / 60000 % 60, n / 1000 % 60, n % 1000, n % 99991);
        line = stamp;
        const std::size_t length = 60 + random() % 141;
        const bool error = random() % 20 == 0;
        while (line.size() < length) {
            line += ' ';
            line += error && random() % 4 == 0 ? errors[random() % 4] : words[random() % 20];
        }
        line.resize(length);
        line += crlf ? "\r\n" : "\n";
        std::fwrite(line.data(), 1, line.size(), out);
        written += static_cast<long long>(line.size());
    }
    std::fclose(out);
    return 0;
}
