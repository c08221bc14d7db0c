#include "document/savetext.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "document/logdocument.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace {

using tlg::testing::TempDir;

// Mixed line breaks, bytes that are no UTF-8, and more than one step of the save.
std::string mixedText()
{
    std::string text;
    for (int n = 0; text.size() < (5u << 19); ++n)
        text += "line " + std::to_string(n) + (n % 3 == 0 ? "\r\n" : n % 3 == 1 ? "\n" : " caf\xE9\r");
    return text + "no final break";
}

std::size_t filesIn(const std::string& folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(SaveText, WritesExactlyTheBytesOfATextInMemoryAndOfOneReadFromItsFile)
{
    TempDir folder;
    const std::string bytes = mixedText();
    tlg::SaveText(*tlg::LogDocument::fromBytes(bytes), folder.path("memory.log"));
    EXPECT_EQ(tlg::ReadWholeFile(folder.path("memory.log")), bytes);

    // A paged text, its blocks tiny, over a file that is gone by the time it is saved.
    const std::string source = folder.write("source.log", bytes);
    struct stat st {};
    ASSERT_EQ(::stat(source.c_str(), &st), 0);
    tlg::PagingSizes sizes;
    sizes.cacheBlock = 4096;
    sizes.hashBlock = 1024;
    sizes.readChunk = 3000;
    const tlg::DocumentPtr paged = tlg::LogDocument::fromFile(tlg::OpenForReading(source), source,
                                                              {st.st_dev, st.st_ino, true}, nullptr, sizes);
    std::filesystem::remove(source);
    std::atomic<std::int64_t> done{0};
    tlg::SaveText(*paged, folder.path("paged.log"), &done);
    EXPECT_EQ(tlg::ReadWholeFile(folder.path("paged.log")), bytes);
    EXPECT_EQ(done.load(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(filesIn(folder.folder()), 2u); // no temporary file left beside

    // A file's first bytes as they are, past a step; a file shorter than asked is said.
    const std::string raw = folder.write("raw.bin", std::string("\0\xFF\r", 3) + bytes);
    const tlg::FileHandle rawFile = tlg::OpenForReading(raw);
    tlg::SaveFileBytes(rawFile.fd(), static_cast<std::int64_t>(bytes.size()), "standard input", folder.path("raw.log"));
    EXPECT_EQ(tlg::ReadWholeFile(folder.path("raw.log")), std::string("\0\xFF\r", 3) + bytes.substr(0, bytes.size() - 3));
    EXPECT_THROW(tlg::SaveFileBytes(rawFile.fd(), static_cast<std::int64_t>(bytes.size()) + 10, "standard input",
                                    folder.path("short.log")),
                 tlg::Failure);
    EXPECT_FALSE(std::filesystem::exists(folder.path("short.log")));

    tlg::SaveText(*tlg::LogDocument::empty(), folder.path("empty.log"));
    EXPECT_EQ(tlg::ReadWholeFile(folder.path("empty.log")), "");
}

TEST(SaveText, AStoppedOrFailedSaveLeavesTheFileThatWasThere)
{
    TempDir folder;
    const std::string target = folder.write("kept.log", "the old text\n");
    const std::atomic<bool> stop{true};
    EXPECT_THROW(tlg::SaveText(*tlg::LogDocument::fromBytes(mixedText()), target, nullptr, &stop), tlg::ReadStopped);
    EXPECT_EQ(tlg::ReadWholeFile(target), "the old text\n");
    EXPECT_EQ(filesIn(folder.folder()), 1u);

    try {
        tlg::SaveText(*tlg::LogDocument::fromBytes("x\n"), folder.path("no/such/folder.log"));
        FAIL() << "saved into a folder that is not there";
    } catch (const tlg::Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "Cannot create file " + folder.path("no/such/folder.log"));
    }
}

} // namespace
