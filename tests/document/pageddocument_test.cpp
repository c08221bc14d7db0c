// A document read from its file with tiny block, cache and read sizes, so that every seam is
// crossed: it answers every question as a naive model of the text and the same document held in
// memory do, while the file grows, and when the file changes under it.

#include "core/errors.h"
#include "core/fileops.h"
#include "document/linelayout.h"
#include "document/logdocument.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace tlg {
namespace {

using testing::TempDir;

// Sizes that cross every boundary. A cache block holds whole hash blocks: 100 bytes of 7-byte
// ones make 98, and one smaller than a hash block is made one.
const PagingSizes kSizes[] = {
    {64, 2, 16, 7}, {64, 2, 16, 37}, {48, 1, 16, 1}, {100, 3, 7, 2}, {32, 2, 32, 64}, {16, 2, 40, 5},
};

std::string describe(const PagingSizes& s)
{
    return "sizes " + std::to_string(s.cacheBlock) + "/" + std::to_string(s.cacheBlocks) + "/" +
           std::to_string(s.hashBlock) + "/" + std::to_string(s.readChunk);
}

DocumentPtr openPaged(const std::string& path, const PagingSizes& sizes, std::atomic<std::int64_t>* bytesRead = nullptr)
{
    FileHandle file = OpenForReading(path);
    if (!file.valid())
        throw std::runtime_error("cannot open " + path);
    struct stat st {};
    ::fstat(file.fd(), &st);
    return LogDocument::fromFile(std::move(file), path, {st.st_dev, st.st_ino, true}, bytesRead, sizes);
}

// The line rules spelt out: a break is LF, CR LF or a lone CR; tabs run to the next stop.
struct Model {
    std::vector<ByteOffset> starts{0};
    std::vector<ByteOffset> contentEnds;
    std::int64_t longest = 0;
    std::int64_t widest = 0;

    explicit Model(const std::string& text)
    {
        std::int64_t column = 0;
        std::size_t lineStart = 0;
        auto endLine = [&](std::size_t end) {
            contentEnds.push_back(static_cast<ByteOffset>(end));
            longest = std::max(longest, static_cast<std::int64_t>(end - lineStart));
            widest = std::max(widest, column);
            column = 0;
        };
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\n' || c == '\r') {
                endLine(i);
                if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                lineStart = i + 1;
                starts.push_back(static_cast<ByteOffset>(lineStart));
            } else {
                column = c == '\t' ? (column / kTabWidth + 1) * kTabWidth : column + 1;
            }
        }
        endLine(text.size());
    }
};

// Checks the index of `doc` against the model of `text` and against the same text in memory.
void expectIndexOf(const LogDocument& doc, const std::string& text, const std::string& where)
{
    const Model model(text);
    const DocumentPtr memory = LogDocument::fromBytes(text);
    const auto rows = static_cast<LineCount>(model.starts.size());
    ASSERT_EQ(doc.size(), static_cast<ByteOffset>(text.size())) << where;
    ASSERT_EQ(doc.copyText(), text) << where;
    ASSERT_EQ(doc.rowCount(), rows) << where;
    ASSERT_EQ(memory->rowCount(), rows) << where;
    const LineCount lines = model.starts.back() == doc.size() ? rows - 1 : rows;
    EXPECT_EQ(doc.lineCount(), lines) << where;
    EXPECT_EQ(memory->lineCount(), lines) << where;
    for (LineNumber line = 0; line < EndLine(rows); ++line) {
        const auto i = static_cast<std::size_t>(line);
        ASSERT_EQ(doc.lineIndex(line), model.starts[i]) << where << " line " << line;
        ASSERT_EQ(memory->lineIndex(line), model.starts[i]) << where << " line " << line;
        ASSERT_EQ(doc.lineContentEnd(line), model.contentEnds[i]) << where << " line " << line;
        const std::string_view content = std::string_view(text).substr(
            static_cast<std::size_t>(model.starts[i]), static_cast<std::size_t>(model.contentEnds[i] - model.starts[i]));
        ASSERT_EQ(doc.lineText(line), content) << where << " line " << line;
    }
    EXPECT_EQ(doc.lineIndex(EndLine(rows)), doc.size()) << where;
    EXPECT_EQ(doc.lineIndex(-1), 0) << where;
    // Every offset of a short text; around every line start and at random in a long one.
    std::vector<ByteOffset> offsets;
    if (text.size() <= 20000) {
        for (ByteOffset offset = -2; offset <= doc.size() + 2; ++offset)
            offsets.push_back(offset);
    } else {
        for (const ByteOffset start : model.starts)
            offsets.insert(offsets.end(), {start - 1, start, start + 1});
        std::mt19937 random(static_cast<std::uint32_t>(text.size()));
        for (int i = 0; i < 5000; ++i)
            offsets.push_back(static_cast<ByteOffset>(random() % (text.size() + 1)));
    }
    for (const ByteOffset offset : offsets) {
        const ByteOffset clamped = std::clamp<ByteOffset>(offset, 0, doc.size());
        const auto expected = static_cast<LineNumber>(
            std::upper_bound(model.starts.begin(), model.starts.end(), clamped) - model.starts.begin() - 1);
        ASSERT_EQ(doc.lineFromOffset(offset), expected) << where << " offset " << offset;
        ASSERT_EQ(memory->lineFromOffset(offset), expected) << where << " offset " << offset;
    }
    EXPECT_EQ(doc.longestLine(), model.longest) << where;
    EXPECT_EQ(doc.widestLineColumns(), model.widest) << where;
    EXPECT_EQ(memory->longestLine(), model.longest) << where;
    EXPECT_EQ(memory->widestLineColumns(), model.widest) << where;
    EXPECT_EQ(doc.holdsNul(), text.find('\0') != std::string::npos) << where;
}

// Slices and the passes over the text give the text's bytes, in the same pieces as in memory.
void expectReadsOf(const LogDocument& doc, const std::string& text, std::mt19937& random, std::size_t cacheBlock,
                   const std::string& where)
{
    const DocumentPtr memory = LogDocument::fromBytes(text);
    const auto size = static_cast<ByteOffset>(text.size());
    const std::string_view all(text);
    auto expectSlice = [&](ByteOffset from, ByteOffset to) {
        const TextSlice got = doc.slice(from, to);
        const ByteOffset f = std::clamp<ByteOffset>(from, 0, size);
        const ByteOffset t = std::clamp<ByteOffset>(to, f, size);
        ASSERT_EQ(got.view(), all.substr(static_cast<std::size_t>(f), static_cast<std::size_t>(t - f)))
            << where << " slice " << from << ".." << to;
        ASSERT_EQ(got, memory->slice(from, to)) << where;
    };
    expectSlice(0, size);
    expectSlice(-5, size + 5);
    expectSlice(size, size + 1);
    for (int i = 0; i < 300; ++i) {
        const ByteOffset from = static_cast<ByteOffset>(random() % (text.size() + 1));
        // Within a block, across a few, or long.
        const std::size_t spans[] = {cacheBlock, 3 * cacheBlock, 20 * cacheBlock};
        const ByteOffset length = static_cast<ByteOffset>(random() % (spans[i % 3] + 1));
        expectSlice(from, from + length);
    }
    // A slice keeps its bytes while the cache moves on to other blocks.
    if (size > 0) {
        const ByteOffset from = static_cast<ByteOffset>(random() % text.size());
        const TextSlice held = doc.slice(from, from + 1 + static_cast<ByteOffset>(random() % cacheBlock));
        const std::string copy(held.view());
        for (ByteOffset at = 0; at < size; at += static_cast<ByteOffset>(cacheBlock))
            (void)doc.slice(at, at + 1);
        EXPECT_EQ(held.view(), copy) << where;
    }

    using Chunk = std::pair<ByteOffset, std::string>;
    for (int i = 0; i < 20; ++i) {
        const ByteOffset a = static_cast<ByteOffset>(random() % (text.size() + 1));
        const ByteOffset b = static_cast<ByteOffset>(random() % (text.size() + 1));
        const ByteOffset from = std::min(a, b);
        const ByteOffset to = i == 0 ? size : std::max(a, b);
        const std::size_t chunk = 1 + random() % 300;
        const std::size_t overlap = random() % (chunk + 5);
        std::vector<Chunk> forwards, backwards, memForwards, memBackwards;
        auto collect = [](std::vector<Chunk>& into) {
            return [&into](ByteOffset at, std::string_view bytes) {
                into.emplace_back(at, std::string(bytes));
                return true;
            };
        };
        ASSERT_TRUE(doc.forEachChunk(from, to, chunk, overlap, collect(forwards)));
        ASSERT_TRUE(doc.forEachChunkBackwards(from, to, chunk, overlap, collect(backwards)));
        memory->forEachChunk(from, to, chunk, overlap, collect(memForwards));
        memory->forEachChunkBackwards(from, to, chunk, overlap, collect(memBackwards));
        ASSERT_EQ(forwards, memForwards) << where;
        ASSERT_EQ(backwards, memBackwards) << where;
        // Forwards: each chunk starts `overlap` bytes (at most) before where the last one ended.
        ByteOffset end = from;
        for (const auto& [at, bytes] : forwards) {
            ASSERT_EQ(at, std::max(from, end - static_cast<ByteOffset>(overlap))) << where;
            ASSERT_EQ(bytes, all.substr(static_cast<std::size_t>(at), bytes.size())) << where;
            ASSERT_GT(at + static_cast<ByteOffset>(bytes.size()), end) << where;
            ASSERT_LE(at + static_cast<ByteOffset>(bytes.size()) - end, static_cast<ByteOffset>(chunk)) << where;
            end = at + static_cast<ByteOffset>(bytes.size());
        }
        ASSERT_EQ(end, to) << where;
        // Backwards: each chunk ends `overlap` bytes (at most) after where the last one began.
        ByteOffset start = to;
        for (const auto& [at, bytes] : backwards) {
            const ByteOffset chunkEnd = at + static_cast<ByteOffset>(bytes.size());
            ASSERT_EQ(chunkEnd, std::min(to, start + static_cast<ByteOffset>(overlap))) << where;
            ASSERT_EQ(bytes, all.substr(static_cast<std::size_t>(at), bytes.size())) << where;
            ASSERT_LT(at, start) << where;
            ASSERT_LE(start - at, static_cast<ByteOffset>(chunk)) << where;
            start = at;
        }
        ASSERT_EQ(start, from) << where;
        // Stopping early stops the pass.
        int calls = 0;
        if (forwards.size() > 1) {
            EXPECT_FALSE(doc.forEachChunk(from, to, chunk, overlap, [&](ByteOffset, std::string_view) { return ++calls < 2; }));
            EXPECT_EQ(calls, 2) << where;
        }

        // Whole lines, about `chunk` bytes of them at a time, covering [first, end).
        const LineCount rows = doc.rowCount();
        const LineNumber first = static_cast<LineNumber>(random() % static_cast<std::size_t>(rows + 1));
        const LineNumber last = i == 0 ? EndLine(rows) : first + static_cast<LineCount>(random() % static_cast<std::size_t>(EndLine(rows) - first + 1));
        std::vector<std::tuple<LineNumber, LineNumber, std::string>> blocks, memBlocks;
        ASSERT_TRUE(doc.forEachLineBlock(first, last, chunk, [&](LineNumber f, LineNumber e, std::string_view bytes) {
            blocks.emplace_back(f, e, std::string(bytes));
            return true;
        }));
        memory->forEachLineBlock(first, last, chunk, [&](LineNumber f, LineNumber e, std::string_view bytes) {
            memBlocks.emplace_back(f, e, std::string(bytes));
            return true;
        });
        ASSERT_EQ(blocks, memBlocks) << where;
        LineNumber next = first;
        for (const auto& [f, e, bytes] : blocks) {
            ASSERT_EQ(f, next) << where;
            ASSERT_GT(e, f) << where;
            const ByteOffset begin = doc.lineIndex(f);
            ASSERT_EQ(bytes, all.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(doc.lineIndex(e) - begin)))
                << where;
            next = e;
        }
        ASSERT_EQ(next, last) << where;
    }
}

// Random lines of a small alphabet with every kind of break; now and then a line long enough
// that the starts after it in its group of 32 are kept in the far table, some of them just
// either side of the 16-bit limit.
std::string randomLines(std::mt19937& random, std::size_t lineCount, unsigned longEvery)
{
    const char alphabet[] = {'a', 'b', ' ', '\t', '\0', 'x', '\r', '\n'};
    const char* const breaks[] = {"\n", "\r\n", "\r", "\n"};
    std::string text;
    for (std::size_t line = 0; line < lineCount; ++line) {
        std::size_t length = random() % 24;
        if (longEvery != 0 && random() % longEvery == 0)
            length = 0xFFFC + random() % 6;
        for (std::size_t i = 0; i < length; ++i)
            text += alphabet[random() % (random() % 4 == 0 ? sizeof(alphabet) : sizeof(alphabet) - 2)];
        text += breaks[random() % 4];
    }
    if (random() % 2 == 0)
        text.resize(text.size() - random() % std::min<std::size_t>(text.size(), 3));
    return text;
}

// Groups whose second start lies exactly 0xFFFE, 0xFFFF (by LF and by CR LF) and 0x10000 bytes
// after their first, and a long line that ends a group.
std::string farEdges()
{
    std::string text;
    auto group = [&](std::size_t firstLength, const char* firstBreak) {
        text += std::string(firstLength, 'f') + firstBreak;
        for (int row = 1; row < 32; ++row)
            text += "r" + std::to_string(row) + "\n";
    };
    group(0xFFFD, "\n");
    group(0xFFFE, "\n");
    group(0xFFFD, "\r\n");
    group(0xFFFF, "\n");
    text.resize(text.size() - 4); // the group's last row is long
    text += std::string(0x10000, 'z') + "\rend";
    return text;
}

TEST(PagedDocumentTest, AnswersAsTheModelAndTheDocumentInMemory)
{
    TempDir dir;
    std::mt19937 random(20240611);
    std::vector<std::string> texts = {"", "\r", "\n", "a\r\nb", std::string(3, '\0'), farEdges()};
    for (int i = 0; i < 10; ++i)
        texts.push_back(randomLines(random, 1 + random() % (i < 5 ? 100 : 600), 100));
    for (std::size_t t = 0; t < texts.size(); ++t) {
        const std::string& text = texts[t];
        const PagingSizes& sizes = kSizes[t % std::size(kSizes)];
        const std::string where = "text " + std::to_string(t) + " " + describe(sizes);
        const std::string path = dir.write("log" + std::to_string(t), text);
        std::atomic<std::int64_t> bytesRead{0};
        const DocumentPtr doc = openPaged(path, sizes, &bytesRead);
        ASSERT_TRUE(doc->paged());
        EXPECT_EQ(bytesRead.load(), static_cast<std::int64_t>(text.size())) << where;
        expectIndexOf(*doc, text, where);
        expectReadsOf(*doc, text, random, sizes.cacheBlock, where);

        // The untouched file is the same over any stretch, and the check values never took a
        // block read into the cache for a changed one.
        FileHandle file = OpenForReading(path);
        EXPECT_TRUE(doc->sameAsFile(file.fd(), path, 0, doc->size())) << where;
        for (int i = 0; i < 50; ++i) {
            const ByteOffset from = static_cast<ByteOffset>(random() % (text.size() + 1));
            EXPECT_TRUE(doc->sameAsFile(file.fd(), path, from, from + static_cast<ByteOffset>(random() % 200))) << where;
        }
        EXPECT_FALSE(doc->stale()) << where;
        EXPECT_EQ(doc->checkGranule(), sizes.hashBlock) << where;

        // A file one byte shorter no longer holds the end of the text.
        if (!text.empty()) {
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(text.size() - 1)), 0);
            EXPECT_FALSE(doc->sameAsFile(file.fd(), path, 0, doc->size())) << where;
            EXPECT_FALSE(doc->sameAsFile(file.fd(), path, doc->size() - 1, doc->size())) << where;
            const ByteOffset wholeBlocks = (doc->size() - 1) / static_cast<ByteOffset>(sizes.hashBlock) *
                                           static_cast<ByteOffset>(sizes.hashBlock);
            EXPECT_TRUE(doc->sameAsFile(file.fd(), path, 0, wholeBlocks)) << where;
        }
    }
}

// Appends `bytes` to the file at path.
void appendToFile(const std::string& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(PagedDocumentTest, GrowingKeepsEveryEarlierDocumentAsItWas)
{
    TempDir dir;
    std::mt19937 random(99);
    for (int round = 0; round < 12; ++round) {
        const PagingSizes& sizes = kSizes[static_cast<std::size_t>(round) % std::size(kSizes)];
        const std::string where = "round " + std::to_string(round) + " " + describe(sizes);
        // The first read ends with a CR now and then, so that the LF after it comes with the
        // next growth.
        std::string text = randomLines(random, 1 + random() % 80, 0);
        if (round % 3 == 0)
            text += "\r";
        const std::string path = dir.write("grow" + std::to_string(round), text);
        std::vector<std::pair<DocumentPtr, std::string>> chain{{openPaged(path, sizes), text}};
        for (int step = 0; step < 10; ++step) {
            // Pieces that split CR LF; one is a long line, so that the starts after it are far
            // ones, and the one after its final CR is dropped again by the next growth.
            std::string piece = step == 4 ? std::string(0xFFFC + random() % 6, 'w')
                                          : randomLines(random, 1 + random() % 40, 0);
            if (!text.empty() && text.back() == '\r' && random() % 4 != 0)
                piece = "\n" + piece;
            if (random() % 2 == 0 || step == 4)
                piece += "\r";
            appendToFile(path, piece);
            text += piece;
            const DocumentPtr& last = chain.back().first;
            std::atomic<std::int64_t> bytesRead{0};
            // Grown from the file, or handed the bytes the file was given.
            const DocumentPtr next = step % 3 == 2 ? last->appended(piece) : last->grown(&bytesRead);
            if (step % 3 != 2) {
                EXPECT_EQ(bytesRead.load(), static_cast<std::int64_t>(piece.size())) << where;
            }
            EXPECT_TRUE(next->grewFrom(*last)) << where;
            EXPECT_TRUE(next->grewFrom(*chain.front().first)) << where;
            EXPECT_FALSE(last->grewFrom(*next)) << where;
            ASSERT_NO_FATAL_FAILURE(expectIndexOf(*next, text, where + " step " + std::to_string(step)));
            chain.emplace_back(next, text);
        }
        EXPECT_EQ(chain.back().first->grown(), chain.back().first) << where;
        // A document grown again from an older one (whose room the chain has taken) reads the
        // whole file too.
        const DocumentPtr branch = chain[chain.size() / 2].first->grown();
        ASSERT_NO_FATAL_FAILURE(expectIndexOf(*branch, text, where + " branch"));
        // Growing never changed what an earlier document sees.
        for (std::size_t i = 0; i < chain.size(); ++i)
            ASSERT_NO_FATAL_FAILURE(expectIndexOf(*chain[i].first, chain[i].second, where + " earlier " + std::to_string(i)));
        expectReadsOf(*chain[3].first, chain[3].second, random, sizes.cacheBlock, where + " earlier reads");
        FileHandle file = OpenForReading(path);
        for (const auto& [doc, bytes] : chain)
            EXPECT_TRUE(doc->sameAsFile(file.fd(), path, 0, doc->size())) << where;
        EXPECT_FALSE(chain.back().first->grewFrom(*openPaged(path, sizes))) << where;
        EXPECT_FALSE(chain.back().first->stale()) << where;
    }
}

TEST(PagedDocumentTest, AFileChangedUnderTheDocumentIsNoticedWithoutHarm)
{
    TempDir dir;
    std::mt19937 random(5);
    const PagingSizes sizes{64, 2, 16, 37};
    std::string text;
    for (int line = 0; line < 120; ++line)
        text += "line " + std::to_string(line) + (line % 7 == 0 ? "\r\n" : "\n");
    const auto size = static_cast<ByteOffset>(text.size());
    const std::string_view all(text);

    // Cut short: what is still there reads as before, what is gone reads as spaces.
    {
        const std::string path = dir.write("cut", text);
        const DocumentPtr doc = openPaged(path, sizes);
        const DocumentPtr other = openPaged(path, sizes);
        const ByteOffset cut = 64 * 5 + 20;
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(cut)), 0);
        // Read straight from the file across blocks, not through the cache.
        EXPECT_EQ(other->slice(cut - 100, cut + 100),
                  std::string(all.substr(static_cast<std::size_t>(cut - 100), 100)) + std::string(100, ' '));
        EXPECT_TRUE(other->stale());
        EXPECT_EQ(doc->slice(10, 200), all.substr(10, 190));
        EXPECT_EQ(doc->slice(64 * 5, cut), all.substr(64 * 5, 20)); // the block the cut lies in
        EXPECT_FALSE(doc->stale());
        EXPECT_EQ(doc->slice(cut - 4, cut + 4), std::string(all.substr(static_cast<std::size_t>(cut - 4), 4)) + "    ");
        EXPECT_TRUE(doc->stale());
        EXPECT_EQ(doc->slice(size - 30, size), std::string(30, ' '));
        EXPECT_EQ(doc->copyText(), std::string(all.substr(0, static_cast<std::size_t>(cut))) +
                                       std::string(static_cast<std::size_t>(size - cut), ' '));
        // Lines before the cut read as they were; those after it as spaces.
        for (LineNumber line = 0; line < EndLine(doc->rowCount()); ++line) {
            const TextSlice content = doc->lineText(line);
            const ByteOffset start = doc->lineIndex(line);
            if (doc->lineIndex(line + 1) <= cut) {
                EXPECT_EQ(content, all.substr(static_cast<std::size_t>(start), content.size())) << line;
            } else if (start >= cut) {
                EXPECT_EQ(content.view().find_first_not_of(' '), std::string_view::npos) << line;
            }
        }
        doc->forEachChunk(0, size, 50, 3, [](ByteOffset, std::string_view) { return true; });
        doc->forEachLineBlock(0, EndLine(doc->rowCount()), 50, [](LineNumber, LineNumber, std::string_view) { return true; });
        EXPECT_EQ(doc->grown(), doc);
        FileHandle file = OpenForReading(path);
        EXPECT_FALSE(doc->sameAsFile(file.fd(), path, 0, size));
        EXPECT_TRUE(doc->sameAsFile(file.fd(), path, 0, cut / 16 * 16));
    }

    // Rewritten in the middle, the size kept: only the hash blocks over the change differ, and
    // reading the block that holds it from the file finds the change.
    {
        const std::string path = dir.write("rewritten", text);
        const DocumentPtr doc = openPaged(path, sizes);
        const ByteOffset changed = 64 * 3 + 35; // in hash block 14, cache block 3
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_EQ(::pwrite(fd, "#", 1, changed.value()), 1);
        ::close(fd);
        FileHandle file = OpenForReading(path);
        EXPECT_FALSE(doc->sameAsFile(file.fd(), path, changed, changed + 1));
        EXPECT_FALSE(doc->sameAsFile(file.fd(), path, 0, size));
        EXPECT_FALSE(doc->sameAsFile(file.fd(), path, changed / 16 * 16, changed / 16 * 16 + 1)); // same hash block
        EXPECT_TRUE(doc->sameAsFile(file.fd(), path, 0, changed / 16 * 16));
        EXPECT_TRUE(doc->sameAsFile(file.fd(), path, (changed / 16 + 1) * 16, size));
        for (ByteOffset block = 0; block * 64 < size; ++block) {
            if (block != changed / 64) {
                EXPECT_EQ(doc->slice(block * 64, block * 64 + 10), all.substr(static_cast<std::size_t>(block * 64), 10));
            }
        }
        EXPECT_FALSE(doc->stale());
        EXPECT_EQ(doc->slice(64 * 3, 64 * 3 + 1), all.substr(64 * 3, 1));
        EXPECT_TRUE(doc->stale());
    }

    // A file that cannot be read.
    {
        try {
            openPaged(dir.folder(), sizes);
            ADD_FAILURE() << "a folder was read";
        } catch (const Failure& failure) {
            EXPECT_EQ(std::string(failure.what()), "Cannot read file " + dir.folder());
        }
        const DocumentPtr doc = LogDocument::fromBytes("some text");
        FileHandle folder = OpenForReading(dir.folder());
        EXPECT_THROW(doc->sameAsFile(folder.fd(), dir.folder(), 0, doc->size()), Failure);
        const DocumentPtr paged = openPaged(dir.write("readable", text), sizes);
        EXPECT_THROW(paged->sameAsFile(folder.fd(), dir.folder(), 0, paged->size()), Failure);
    }

    // Deleted: the open file still gives the text.
    {
        const std::string path = dir.write("deleted", text);
        const DocumentPtr doc = openPaged(path, sizes);
        std::filesystem::remove(path);
        ASSERT_NO_FATAL_FAILURE(expectIndexOf(*doc, text, "deleted"));
        expectReadsOf(*doc, text, random, sizes.cacheBlock, "deleted");
        EXPECT_EQ(doc->grown(), doc);
        EXPECT_FALSE(doc->stale());
    }
}

} // namespace
} // namespace tlg
