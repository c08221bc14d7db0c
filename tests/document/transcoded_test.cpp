// A document whose shown bytes are decoded from its file (16-bit text, text with NUL bytes),
// read with tiny blocks so that every seam is crossed: it answers as the converted text held in
// memory, while its file grows a few bytes at a time (16-bit units, surrogate pairs and CR LF
// split at every byte); a file rewritten under a document is noticed wherever the change lies;
// and a pass over a very long line never holds the line.

#include "core/errors.h"
#include "core/fileops.h"
#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/textcheck.h"
#include "document/textload.h"
#include "document/unicode.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The largest single allocation made while counting is on.
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_largest{0};

} // namespace

void* operator new(std::size_t size)
{
    if (g_counting.load(std::memory_order_relaxed)) {
        std::size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* room = std::malloc(size == 0 ? 1 : size))
        return room;
    throw std::bad_alloc();
}
void operator delete(void* room) noexcept
{
    std::free(room);
}
void operator delete(void* room, std::size_t) noexcept
{
    std::free(room);
}

namespace tlg {
namespace {

using namespace std::string_literals;
using testing::TempDir;

const PagingSizes kSizes[] = {
    {64, 2, 16, 7}, {48, 1, 16, 1}, {100, 3, 7, 2}, {32, 2, 32, 64}, {16, 2, 40, 5}, {64, 3, 8, 3},
};

const Transcoding kKinds[] = {Transcoding::Utf16Le, Transcoding::Utf16Be, Transcoding::DropNuls,
                              Transcoding::DropNulsAfterMark};

std::string kindName(Transcoding how)
{
    switch (how) {
    case Transcoding::Utf16Le: return "UTF-16LE";
    case Transcoding::Utf16Be: return "UTF-16BE";
    case Transcoding::DropNuls: return "NUL-free";
    case Transcoding::DropNulsAfterMark: return "NUL-free after mark";
    default: return "plain";
    }
}

// The shown bytes as the conversions in memory make them of the file's bytes.
std::string converted(const std::string& file, Transcoding how)
{
    switch (how) {
    case Transcoding::Utf16Le:
    case Transcoding::Utf16Be: {
        const bool big = how == Transcoding::Utf16Be;
        std::string_view body(file);
        if (body.substr(0, 2) == (big ? "\xFE\xFF" : "\xFF\xFE"))
            body.remove_prefix(2);
        return Utf16ToUtf8(body, big);
    }
    case Transcoding::DropNuls:
        return DropNuls(file);
    case Transcoding::DropNulsAfterMark:
        return file.size() <= 3 ? std::string() : DropNuls(std::string_view(file).substr(2, file.size() - 3));
    default:
        return file;
    }
}

// ASCII text as UTF-16LE.
std::string utf16Of(std::string_view ascii)
{
    std::string bytes;
    for (const char c : ascii)
        bytes += std::string{c, '\0'};
    return bytes;
}

std::string unitBytes(char16_t unit, bool big)
{
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    return big ? std::string{high, low} : std::string{low, high};
}

// 16-bit text with breaks of every kind, tabs, NUL characters, characters of two and three
// UTF-8 bytes, surrogate pairs, lone high and low surrogates; with its mark now and then.
std::string randomUtf16(std::mt19937& random, std::size_t units, bool big)
{
    const char16_t plain[] = {u'a', u'b', u' ', u'\t', u'\r', u'\n', 0, 0xE9, 0x670D, 0x0A0D, 0xFFFD};
    std::string bytes = random() % 2 == 0 ? unitBytes(0xFEFF, big) : std::string();
    for (std::size_t i = 0; i < units; ++i) {
        switch (random() % 8) {
        case 0:
            bytes += unitBytes(static_cast<char16_t>(0xD800 + random() % 0x400), big);
            bytes += unitBytes(static_cast<char16_t>(0xDC00 + random() % 0x400), big);
            break;
        case 1:
            bytes += unitBytes(static_cast<char16_t>(random() % 2 ? 0xD83D : 0xDE00), big); // half a pair
            break;
        case 2:
            bytes += unitBytes(u'\r', big) + unitBytes(u'\n', big);
            break;
        case 3:
            // A run of ASCII, as most of a log is.
            for (std::size_t run = 5 + random() % 40; run > 0; --run)
                bytes += unitBytes(static_cast<char16_t>(random() % 3 == 0 ? u'\n' : 'A' + random() % 26), big);
            break;
        default:
            bytes += unitBytes(plain[random() % std::size(plain)], big);
        }
    }
    return bytes;
}

// Single-byte text holding NULs (also in runs), breaks of every kind and high bytes; starting
// with FF FE now and then.
std::string randomNulText(std::mt19937& random, std::size_t length)
{
    const char alphabet[] = {'a', 'b', '\t', '\0', '\0', '\r', '\n', '\xFF', '\xFE', 'z'};
    std::string bytes = random() % 2 == 0 ? "\xFF\xFE"s : std::string();
    for (std::size_t i = 0; i < length; ++i)
        bytes += alphabet[random() % std::size(alphabet)];
    return bytes;
}

DocumentPtr openDocument(const std::string& path, const PagingSizes& sizes, Transcoding how)
{
    FileHandle file = OpenForReading(path);
    struct stat st {};
    ::fstat(file.fd(), &st);
    return LogDocument::fromFile(std::move(file), path, {st.st_dev, st.st_ino, true}, nullptr, sizes, how);
}

void appendToFile(const std::string& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Checks that `doc` answers every question as the same shown bytes held in memory do.
void expectAsInMemory(const LogDocument& doc, const std::string& shown, std::mt19937& random, const std::string& where)
{
    const DocumentPtr memory = LogDocument::fromBytes(shown);
    const auto size = static_cast<ByteOffset>(shown.size());
    ASSERT_EQ(doc.size(), size) << where;
    ASSERT_EQ(doc.copyText(), shown) << where;
    ASSERT_EQ(doc.rowCount(), memory->rowCount()) << where;
    ASSERT_EQ(doc.lineCount(), memory->lineCount()) << where;
    for (LineNumber line = 0; line <= EndLine(doc.rowCount()); ++line) {
        ASSERT_EQ(doc.lineIndex(line), memory->lineIndex(line)) << where << " line " << line;
        ASSERT_EQ(doc.lineContentEnd(line), memory->lineContentEnd(line)) << where << " line " << line;
        ASSERT_EQ(doc.lineText(line), memory->lineText(line)) << where << " line " << line;
    }
    for (ByteOffset offset = -1; offset <= size + 1; ++offset)
        ASSERT_EQ(doc.lineFromOffset(offset), memory->lineFromOffset(offset)) << where << " offset " << offset;
    EXPECT_EQ(doc.longestLine(), memory->longestLine()) << where;
    EXPECT_EQ(doc.widestLineColumns(), memory->widestLineColumns()) << where;
    EXPECT_EQ(doc.holdsNul(), memory->holdsNul()) << where;
    for (int i = 0; i < 20; ++i) {
        const ByteOffset from = static_cast<ByteOffset>(random() % (shown.size() + 1));
        const ByteOffset to = from + static_cast<ByteOffset>(random() % (i % 2 == 0 ? 40 : 400));
        ASSERT_EQ(doc.slice(from, to), memory->slice(from, to)) << where << " slice " << from << ".." << to;
        ASSERT_EQ(doc.read(from, to), memory->read(from, to)) << where;
    }
    using Chunk = std::pair<ByteOffset, std::string>;
    auto collect = [](std::vector<Chunk>& into) {
        return [&into](ByteOffset at, std::string_view bytes) {
            into.emplace_back(at, std::string(bytes));
            return true;
        };
    };
    const std::size_t chunk = 1 + random() % 100;
    const std::size_t overlap = random() % (chunk + 3);
    std::vector<Chunk> got, expected;
    doc.forEachChunk(0, size, chunk, overlap, collect(got));
    memory->forEachChunk(0, size, chunk, overlap, collect(expected));
    ASSERT_EQ(got, expected) << where;
    got.clear();
    expected.clear();
    doc.forEachChunkBackwards(0, size, chunk, overlap, collect(got));
    memory->forEachChunkBackwards(0, size, chunk, overlap, collect(expected));
    ASSERT_EQ(got, expected) << where;
    using Block = std::tuple<LineNumber, LineNumber, ByteOffset, std::string, bool, bool>;
    std::vector<Block> blocks, memBlocks;
    auto collectBlocks = [](std::vector<Block>& into) {
        return [&into](const LineBlock& block) {
            into.emplace_back(block.first, block.end, block.offset, std::string(block.bytes), block.startsLine, block.endsLine);
            return true;
        };
    };
    doc.forEachLineBlock(0, EndLine(doc.rowCount()), chunk, collectBlocks(blocks));
    memory->forEachLineBlock(0, EndLine(memory->rowCount()), chunk, collectBlocks(memBlocks));
    ASSERT_EQ(blocks, memBlocks) << where;
    EXPECT_FALSE(doc.stale()) << where;
}

TEST(TranscodedDocumentTest, AnswersAsTheConvertedTextInMemoryWhileTheFileGrows)
{
    TempDir dir;
    std::mt19937 random(20261207);
    int round = 0;
    for (const Transcoding how : kKinds) {
        for (int text = 0; text < 6; ++text, ++round) {
            const PagingSizes& sizes = kSizes[static_cast<std::size_t>(round) % std::size(kSizes)];
            const bool sixteen = how == Transcoding::Utf16Le || how == Transcoding::Utf16Be;
            std::string whole = sixteen ? randomUtf16(random, 60 + random() % 300, how == Transcoding::Utf16Be)
                                        : randomNulText(random, 100 + random() % 600);
            if (sixteen && random() % 3 == 0)
                whole += 'x'; // an odd last byte
            const std::string where = kindName(how) + " text " + std::to_string(text);
            const std::string path = dir.path("grow" + std::to_string(round));
            // The file starts with a few bytes (none, part of the mark, ...) and grows by pieces of
            // one to seven bytes, now and then more, so that every split is met.
            std::size_t written = text < 3 ? static_cast<std::size_t>(text) : random() % whole.size();
            std::ofstream(path, std::ios::binary).write(whole.data(), static_cast<std::streamsize>(written));
            std::vector<std::pair<DocumentPtr, std::string>> chain;
            chain.emplace_back(openDocument(path, sizes, how), whole.substr(0, written));
            ASSERT_NO_FATAL_FAILURE(expectAsInMemory(*chain.back().first, converted(chain.back().second, how), random, where));
            for (int step = 0; written < whole.size(); ++step) {
                const std::size_t piece = std::min(whole.size() - written, random() % 5 == 0 ? 1 + random() % 60 : 1 + random() % 7);
                appendToFile(path, std::string_view(whole).substr(written, piece));
                written += piece;
                const std::string file = whole.substr(0, written);
                const DocumentPtr next = chain.back().first->grown();
                const std::string at = where + " at " + std::to_string(written) + " " + std::to_string(sizes.hashBlock);
                ASSERT_EQ(next->transcoding(), how) << at;
                ASSERT_EQ(next->fileBytes(), static_cast<std::int64_t>(written)) << at;
                ASSERT_NO_FATAL_FAILURE(expectAsInMemory(*next, converted(file, how), random, at));
                FileHandle handle = OpenForReading(path);
                EXPECT_TRUE(next->sameAsFile(handle.fd(), path, 0, next->size())) << at;
                // Grown from the last document only when that one's text is the start of this
                // one's: never after a pending end of 16-bit text was decoded again otherwise.
                const std::string before = converted(chain.back().second, how);
                if (next->grewFrom(*chain.back().first)) {
                    EXPECT_EQ(converted(file, how).substr(0, before.size()), before) << at;
                } else {
                    EXPECT_TRUE(sixteen) << at;
                }
                chain.emplace_back(next, file);
            }
            EXPECT_EQ(chain.back().first->grown(), chain.back().first) << where;
            // Growing never changed what an earlier document shows, and one grown again from an
            // earlier document (whose room the chain took) shows the whole file.
            for (std::size_t i = 0; i < chain.size(); i += 1 + chain.size() / 5)
                ASSERT_NO_FATAL_FAILURE(expectAsInMemory(*chain[i].first, converted(chain[i].second, how), random,
                                                         where + " earlier " + std::to_string(i)));
            const DocumentPtr branch = chain[chain.size() / 2].first->grown();
            ASSERT_NO_FATAL_FAILURE(expectAsInMemory(*branch, converted(whole, how), random, where + " branch"));
            ASSERT_NO_FATAL_FAILURE(
                expectAsInMemory(*openDocument(path, sizes, how), converted(whole, how), random, where + " fresh"));
            // The load the program calls, with its own sizes.
            EXPECT_EQ(LoadText(path, how)->copyText(), converted(whole, how)) << where;
        }
    }
    // The readers of today give the same text.
    const std::string nuls = dir.write("nuls.log", "\xFF\xFEh\0i\0\r\0\n\0z"s);
    EXPECT_EQ(LoadText(nuls, Transcoding::DropNuls)->copyText(), ReadDroppingNuls(nuls));
    EXPECT_EQ(LoadText(nuls, Transcoding::DropNulsAfterMark)->copyText(), ReadAfterMark(nuls));
}

// Writes `bytes` over the file at `offset`, its size kept.
void overwrite(const std::string& path, ByteOffset offset, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset.value()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(TranscodedDocumentTest, ARewriteOfTheSameSizeIsNoticedWhereverItLies)
{
    TempDir dir;
    const PagingSizes sizes{64, 2, 16, 37};
    std::string text;
    for (int line = 0; line < 40; ++line)
        text += "line " + std::to_string(line) + "\n";
    text += "tail!"; // 16 * k + 5 bytes: the last hash block is partial
    ASSERT_NE(text.size() % 16, 0u);
    const auto size = static_cast<ByteOffset>(text.size());

    for (const Transcoding how : {Transcoding::None, Transcoding::Utf16Le, Transcoding::DropNuls}) {
        // The file's bytes for the shown text and where shown byte `at` lies in the file.
        // (Each character followed by a NUL: 16-bit text, or single-byte text with NULs.)
        const std::string file = how == Transcoding::None ? text : utf16Of(text);
        auto fileOffset = [how](ByteOffset at) { return how == Transcoding::None ? at : 2 * at; };
        const std::string where = kindName(how);

        // A line across the seam of cache blocks 2 and 3, read as one slice.
        {
            const std::string path = dir.write("seam", file);
            const DocumentPtr doc = openDocument(path, sizes, how);
            ASSERT_EQ(doc->copyText(), text) << where;
            ASSERT_FALSE(doc->stale()) << where;
            overwrite(path, fileOffset(64 * 3 - 2), "#");
            const TextSlice across = doc->slice(64 * 3 - 8, 64 * 3 + 8);
            EXPECT_TRUE(doc->stale()) << where;
            FileHandle handle = OpenForReading(path);
            EXPECT_FALSE(doc->sameAsFile(handle.fd(), path, 64 * 3 - 2, 64 * 3 - 1)) << where;
            EXPECT_TRUE(doc->sameAsFile(handle.fd(), path, 0, 64 * 3 - 16)) << where;
        }
        // In the bytes after the last whole hash block, by a slice and by a pass.
        for (const bool pass : {false, true}) {
            const std::string path = dir.write("tail", file);
            const DocumentPtr doc = openDocument(path, sizes, how);
            ASSERT_EQ(doc->copyText(), text) << where;
            overwrite(path, fileOffset(size - 2), "?");
            if (pass)
                doc->forEachChunk(size - 10, size, 4, 0, [](ByteOffset, std::string_view) { return true; });
            else
                (void)doc->slice(size - 3, size);
            EXPECT_TRUE(doc->stale()) << where << (pass ? " pass" : " slice");
            FileHandle handle = OpenForReading(path);
            EXPECT_FALSE(doc->sameAsFile(handle.fd(), path, size - 1, size)) << where;
        }
    }

    // A followed 16-bit log rewritten in place is read again; one that grew is grown, its
    // transcoding kept.
    const std::string path = dir.write("followed", "\xFF\xFE"s + utf16Of("one\r\ntwo\r\n"));
    DocumentPtr followed = LoadText(path, Transcoding::Utf16Le);
    TextCheck check;
    overwrite(path, 2 + 2 * 5, "T");
    followed = LoadFollowedText(path, followed, check, false);
    EXPECT_EQ(followed->copyText(), "one\r\nTwo\r\n");
    EXPECT_EQ(followed->transcoding(), Transcoding::Utf16Le);
    appendToFile(path, utf16Of("three"));
    const DocumentPtr grown = LoadFollowedText(path, followed, check, false);
    EXPECT_EQ(grown->copyText(), "one\r\nTwo\r\nthree");
    EXPECT_TRUE(grown->grewFrom(*followed));
    EXPECT_EQ(check.unchecked, 0);
}

TEST(TranscodedDocumentTest, APassOverAVeryLongLineNeverHoldsTheLine)
{
    TempDir dir;
    const PagingSizes sizes{4096, 4, 1024, 64u << 10};
    constexpr std::size_t kLine = 5u << 20;
    constexpr std::size_t kChunk = 64u << 10;
    std::string line(kLine, 'x');
    for (std::size_t i = 0; i < kLine; i += 977)
        line[i] = static_cast<char>('a' + i % 26);
    const std::string text = "first\n" + line + "\nlast\n";
    std::string wide(2 * text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        wide[2 * i] = text[i];
    for (const Transcoding how : {Transcoding::None, Transcoding::Utf16Le}) {
        const std::string where = kindName(how);
        const std::string path = dir.write("long", how == Transcoding::None ? text : wide);
        const DocumentPtr doc = openDocument(path, sizes, how);
        ASSERT_EQ(doc->lineCount(), 3) << where;
        ASSERT_EQ(doc->longestLine(), static_cast<std::int64_t>(kLine)) << where;

        // The line comes in pieces of at most a chunk, the first starting it and the last ending
        // it; no room as large as the line is taken.
        std::string pieces;
        pieces.reserve(kLine + 1); // the test's own copy is made before counting
        std::vector<LineBlock> seen;
        seen.reserve(4 * kLine / kChunk);
        g_largest = 0;
        g_counting = true;
        const bool done = doc->forEachLineBlock(0, EndLine(doc->rowCount()), kChunk, [&](const LineBlock& block) {
            if (block.first == 1) {
                EXPECT_EQ(block.end, 2);
                EXPECT_LE(block.bytes.size(), kChunk);
                EXPECT_EQ(block.offset, 6 + static_cast<ByteOffset>(pieces.size()));
                EXPECT_EQ(block.startsLine, pieces.empty());
                pieces.append(block.bytes);
                EXPECT_EQ(block.endsLine, pieces.size() == kLine + 1);
            } else {
                EXPECT_TRUE(block.startsLine && block.endsLine);
            }
            seen.push_back({block.first, block.end, block.offset, {}, block.startsLine, block.endsLine});
            return true;
        });
        g_counting = false;
        EXPECT_TRUE(done) << where;
        EXPECT_EQ(pieces, line + "\n") << where;
        EXPECT_LT(g_largest.load(), kLine / 8) << where;
        EXPECT_GT(seen.size(), kLine / kChunk) << where;
        // Stopping at a piece stops the pass.
        int calls = 0;
        EXPECT_FALSE(doc->forEachLineBlock(0, EndLine(doc->rowCount()), kChunk, [&](const LineBlock&) { return ++calls < 3; }));
        EXPECT_EQ(calls, 3) << where;

        // A slice of the whole line is the caller's, never kept by the cache.
        const TextSlice whole = doc->lineText(1);
        EXPECT_EQ(whole, line) << where;
        EXPECT_LT(doc->cacheMemory(), kLine) << where;
        const TextSlice some = doc->slice(100, 100 + (1 << 20));
        EXPECT_EQ(some, std::string_view(text).substr(100, 1 << 20)) << where;
        EXPECT_EQ(whole, line) << where;
        EXPECT_FALSE(doc->stale()) << where;
    }
}

TEST(TranscodedDocumentTest, EveryKindOpensAsThePlainLoadDoes)
{
    TempDir dir;
    const std::string path = dir.write("held.log", "\xFF\xFEo\0k\0"s);
    const std::string locked = "File is locked by another program: " + path;
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    // A shared lock lets every kind through; a write lock none.
    ASSERT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
    for (const Transcoding how : kKinds)
        EXPECT_EQ(LoadText(path, how)->copyText(), converted("\xFF\xFEo\0k\0"s, how)) << kindName(how);
    EXPECT_EQ(LoadUtf16Text(path, false)->copyText(), "ok");
    ::flock(fd, LOCK_UN);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    for (const Transcoding how : kKinds) {
        try {
            LoadText(path, how);
            ADD_FAILURE() << kindName(how) << " loaded a locked file";
        } catch (const Failure& failure) {
            EXPECT_EQ(std::string(failure.what()), locked) << kindName(how);
        }
    }
    ::close(fd);
    EXPECT_THROW(LoadText(dir.path("missing.log"), Transcoding::Utf16Be), Failure);
    EXPECT_THROW(LoadText(dir.folder(), Transcoding::DropNuls), Failure);
    const DocumentPtr doc = LoadText(path, Transcoding::Utf16Le);
    EXPECT_TRUE(doc->identity().known);
    EXPECT_THROW((void)doc->appended("more"), std::logic_error);
}

} // namespace
} // namespace tlg
