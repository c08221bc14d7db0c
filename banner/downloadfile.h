#pragma once

// A file that a download replaces whole or not at all.

#include <string>
#include <string_view>

namespace tlg {

// Collects a download in a temporary file beside `path`; commit() puts it in place of the
// file at path in one step. Until then the old file stays as it was, and a download that is
// given up (the object goes without commit) leaves no trace.
class DownloadFile {
public:
    // Throws Failure("Cannot create file <path>") when the temporary file cannot be made.
    explicit DownloadFile(std::string path);
    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Throws Failure("Cannot create file <path>") when the bytes cannot be written.
    void append(std::string_view bytes);
    // Flushes the file and renames it over path; an existing file's permissions are kept. A
    // symbolic link at path is replaced itself, its target untouched.
    // Throws Failure("Cannot create file <path>") on failure, and the old file stays.
    void commit();

private:
    std::string m_path;
    std::string m_tempPath;
    int m_fd = -1;
};

} // namespace tlg
