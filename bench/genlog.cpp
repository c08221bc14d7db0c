// Writes a test log: timestamped lines of 60 to 200 bytes, about one in twenty with an error
// word, from a fixed seed, so that every run measures the same bytes. With utf8, one word in
// four is Latin with accents, Cyrillic, Chinese or an emoji, in UTF-8.
//
//   genlog <megabytes> <path> [crlf|utf8]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: genlog <megabytes> <path> [crlf|utf8]\n");
        return 2;
    }
    const long long bytes = std::atoll(argv[1]) * 1024LL * 1024LL;
    const bool crlf = argc > 3 && std::strcmp(argv[3], "crlf") == 0;
    const bool utf8 = argc > 3 && std::strcmp(argv[3], "utf8") == 0;
    const char* wide[] = {"caf\xC3\xA9", "cr\xC3\xA8me", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
                          "\xD0\x9E\xD0\xA8\xD0\x98\xD0\x91\xD0\x9A\xD0\x90", "\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8",
                          "\xE8\xBF\x9E\xE6\x8E\xA5", "\xF0\x9F\x98\x80", "\xF0\x9F\x94\xA5"};
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
            if (utf8 && random() % 4 == 0)
                line += wide[random() % 8];
            else
                line += error && random() % 4 == 0 ? errors[random() % 4] : words[random() % 20];
        }
        if (!utf8)
            line.resize(length); // in UTF-8 a cut could split a character
        line += crlf ? "\r\n" : "\n";
        std::fwrite(line.data(), 1, line.size(), out);
        written += static_cast<long long>(line.size());
    }
    std::fclose(out);
    return 0;
}
