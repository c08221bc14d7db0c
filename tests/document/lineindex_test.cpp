// The line index against a plain vector of starts: indexes copied from one another and grown or
// cut back each answer for their own rows, whatever the others did after them; documents grown
// in small pieces over lines of every width read as the whole text does; the kept form reads
// back and an index kept in the earlier form is made again.

#include "core/fileops.h"
#include "document/compressedindexcache.h"
#include "document/compressedtext.h"
#include "document/lineindex.h"
#include "document/logdocument.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

using testing::TempDir;

void expectSameStarts(const LineIndex& index, const std::vector<std::int64_t>& starts, const std::string& where)
{
    ASSERT_EQ(index.rows(), starts.size()) << where;
    for (std::size_t row = 0; row < starts.size(); ++row) {
        ASSERT_EQ(index.start(row), starts[row]) << where << " row " << row;
        // The row found for its own start, the byte before it and the last byte of its line.
        ASSERT_EQ(index.rowAt(starts[row]), row) << where << " row " << row;
        if (row > 0) {
            ASSERT_EQ(index.rowAt(starts[row] - 1), row - 1) << where << " row " << row;
        }
        const std::int64_t next = row + 1 < starts.size() ? starts[row + 1] : starts[row] + 1;
        ASSERT_EQ(index.rowAt(next - 1), row) << where << " row " << row;
    }
    // Stretches read together, from inside a group and across groups and the open one.
    for (std::size_t first = 0; first < starts.size(); first += 1 + first / 2) {
        const std::size_t count = std::min<std::size_t>(starts.size() - first, 3 + first * 3);
        std::vector<ByteOffset> together(count);
        index.starts(first, count, together.data());
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(together[i], starts[first + i]) << where << " stretch from " << first << " row " << first + i;
    }
}

// Line lengths at the edges of every width a group may take, among ordinary short ones.
std::int64_t lineLength(std::mt19937& random)
{
    static const std::int64_t kEdges[] = {1, 2, 255, 256, 65535, 65536, 70000, 0xFFFFFFFFll, 0x100000000ll};
    return random() % 50 == 0 ? kEdges[random() % std::size(kEdges)] : 1 + static_cast<std::int64_t>(random() % 200);
}

TEST(LineIndex, CopiesGrownAndCutBackEachKeepTheirOwnRows)
{
    struct Version {
        LineIndex index;
        std::vector<std::int64_t> starts;
    };
    std::mt19937 random(5);
    std::vector<Version> versions(1);
    // Chunks of four groups of short lines: rows cross them all the time.
    versions[0].index = LineIndex(4 * 127);
    versions[0].index.push(0);
    versions[0].starts.push_back(0);
    versions[0].index.finish();
    for (int step = 0; step < 300; ++step) {
        // Mostly the newest grows (sharing its last chunk's room); now and then an older one
        // grows a branch, whose rows go on in a copy of that chunk.
        const std::size_t from = random() % 4 == 0 ? random() % versions.size() : versions.size() - 1;
        Version next{versions[from].index, versions[from].starts};
        // Rows added and dropped in turn: a CR at the end followed by an LF drops the last
        // start; a decoded end taken back drops more, now and then far back, across chunks.
        for (int round = 0, rounds = 1 + static_cast<int>(random() % 3); round < rounds; ++round) {
            if (random() % 3 == 0) {
                std::size_t drops = random() % 2 ? 1 : random() % 10 == 0 ? random() % next.starts.size() : random() % 300;
                drops = std::min(drops, next.starts.size() - 1);
                for (std::size_t i = 0; i < drops; ++i) {
                    next.index.dropLast();
                    next.starts.pop_back();
                }
            }
            const std::size_t adds = random() % 3 == 0 ? random() % 600 : random() % 20;
            for (std::size_t i = 0; i < adds; ++i) {
                next.starts.push_back(next.starts.back() + lineLength(random));
                next.index.push(next.starts.back());
            }
        }
        next.index.finish();
        expectSameStarts(next.index, next.starts, "step " + std::to_string(step));
        expectSameStarts(versions[from].index, versions[from].starts, "the one grown at step " + std::to_string(step));
        versions.push_back(std::move(next));
        if (HasFatalFailure())
            return;
    }
    for (std::size_t v = 0; v < versions.size(); ++v)
        expectSameStarts(versions[v].index, versions[v].starts, "version " + std::to_string(v));
}

// What the earlier layout took for these starts: 2 bytes a row, 8 for every 32nd, and 16 more
// for a start 64 KiB or more past its group's first.
std::size_t earlierFormBytes(const std::vector<std::int64_t>& starts)
{
    std::size_t bytes = 0;
    for (std::size_t row = 0; row < starts.size(); ++row)
        bytes += 2 + (row % 32 == 0 ? 8 : 0) + (starts[row] - starts[row / 32 * 32] >= 0xFFFF ? 16 : 0);
    return bytes;
}

TEST(LineIndex, TakesAboutAByteALineForShortLinesAndNeverMoreThanBeforeForLongOnes)
{
    constexpr std::size_t kRows = 1 << 20;
    // Lines of 100-249 bytes; of 300, 2000 and 3000 bytes; of 70 000.
    for (const auto& [shortest, spread] : {std::pair{100, 150}, {300, 7}, {2000, 7}, {3000, 7}, {70000, 1}}) {
        LineIndex index;
        std::vector<std::int64_t> starts;
        std::int64_t at = 0;
        for (std::size_t row = 0; row < kRows; ++row) {
            index.push(at);
            starts.push_back(at);
            at += shortest + static_cast<std::int64_t>(row % spread);
        }
        const double perRow = static_cast<double>(index.memory()) / kRows;
        if (shortest < 256) {
            EXPECT_LE(perRow, 1.2);
        }
        EXPECT_LT(index.memory(), earlierFormBytes(starts)) << "lines of " << shortest << " bytes";
    }
}

// Lines of every width a group may take, empty lines and each kind of break.
std::string mixedText(std::mt19937& random, std::size_t lines)
{
    std::string text;
    for (std::size_t line = 0; line < lines; ++line) {
        static const std::size_t kLengths[] = {0, 1, 254, 255, 256, 65534, 65535, 65536, 70001};
        const std::size_t length = random() % 40 == 0 ? kLengths[random() % std::size(kLengths)] : random() % 90;
        text.append(length, static_cast<char>('a' + line % 26));
        static const char* const kBreaks[] = {"\n", "\r\n", "\r", "\n"};
        text += kBreaks[random() % std::size(kBreaks)];
    }
    return text;
}

std::vector<std::int64_t> startsOf(std::string_view text)
{
    std::vector<std::int64_t> starts{0};
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\n' || (text[at] == '\r' && (at + 1 == text.size() || text[at + 1] != '\n')))
            starts.push_back(static_cast<std::int64_t>(at + 1));
    }
    return starts;
}

void expectLines(const LogDocument& doc, std::string_view text, const std::string& where)
{
    const std::vector<std::int64_t> starts = startsOf(text);
    ASSERT_EQ(doc.size(), static_cast<std::int64_t>(text.size())) << where;
    ASSERT_EQ(doc.rowCount(), static_cast<std::int64_t>(starts.size())) << where;
    for (std::size_t row = 0; row < starts.size(); ++row)
        ASSERT_EQ(doc.lineIndex(static_cast<std::int64_t>(row)), starts[row]) << where << " row " << row;
}

TEST(LineIndex, DocumentsGrownInSmallPiecesReadTheirOwnLinesWhateverComesAfter)
{
    std::mt19937 random(9);
    const std::string text = mixedText(random, 1500);
    std::vector<DocumentPtr> docs{LogDocument::fromBytes(std::string_view())};
    std::vector<std::size_t> sizes{0};
    for (std::size_t at = 0; at < text.size();) {
        // Small pieces, and now and then one that ends on a CR whose LF comes next.
        std::size_t piece = 1 + random() % (random() % 8 == 0 ? 100000 : 400);
        piece = std::min(piece, text.size() - at);
        const std::size_t cr = text.find('\r', at);
        if (random() % 4 == 0 && cr != std::string::npos && cr + 1 < text.size() && text[cr + 1] == '\n')
            piece = cr + 1 - at;
        docs.push_back(docs.back()->appended(std::string_view(text).substr(at, piece)));
        at += piece;
        sizes.push_back(at);
    }
    // Branches from older documents: an LF after a CR drops a start those documents see.
    std::vector<std::pair<DocumentPtr, std::string>> branches;
    for (std::size_t i = 0; i < docs.size(); i += 1 + docs.size() / 20) {
        const std::string prefix = text.substr(0, sizes[i]) + "\r";
        const DocumentPtr withCr = docs[i]->appended("\r");
        branches.push_back({withCr->appended("\nbranch\r"), prefix + "\nbranch\r"});
        branches.push_back({withCr, prefix});
    }
    for (std::size_t i = 0; i < docs.size(); ++i)
        expectLines(*docs[i], std::string_view(text).substr(0, sizes[i]), "document " + std::to_string(i));
    for (std::size_t i = 0; i < branches.size(); ++i)
        expectLines(*branches[i].first, branches[i].second, "branch " + std::to_string(i));

    // The line of every offset of the whole text.
    const LogDocument& whole = *docs.back();
    const std::vector<std::int64_t> starts = startsOf(text);
    std::size_t row = 0;
    for (std::int64_t offset = 0; offset <= static_cast<std::int64_t>(text.size()); ++offset) {
        while (row + 1 < starts.size() && starts[row + 1] <= offset)
            ++row;
        ASSERT_EQ(whole.lineFromOffset(offset), static_cast<std::int64_t>(row)) << "offset " << offset;
    }
    // The starts of a stretch together are those of its lines one by one, past the end too.
    const std::int64_t rows = whole.rowCount().value();
    for (const auto& [first, end] : {std::pair<std::int64_t, std::int64_t>{0, rows}, {rows / 3, rows / 3 + 200},
                                     {rows - 5, rows + 3}, {-2, 4}}) {
        std::vector<ByteOffset> together(static_cast<std::size_t>(end - first));
        whole.lineStarts(first, end, together.data());
        for (std::int64_t line = first; line < end; ++line)
            ASSERT_EQ(together[static_cast<std::size_t>(line - first)], whole.lineIndex(line)) << "line " << line;
    }
}

TEST(LineIndex, TheKeptFormReadsBackAndADamagedOneIsRefused)
{
    std::mt19937 random(3);
    for (std::size_t rows : {1u, 127u, 128u, 129u, 1000u, 5000u}) {
        LineIndex index;
        std::vector<std::int64_t> starts{0};
        index.push(0);
        while (starts.size() < rows) {
            starts.push_back(starts.back() + lineLength(random));
            index.push(starts.back());
        }
        std::string form;
        index.write(form);
        form += "after";
        std::string_view in(form);
        LineIndex back;
        ASSERT_TRUE(back.read(in, starts.back()));
        EXPECT_EQ(in, "after");
        expectSameStarts(back, starts, "read back, " + std::to_string(rows) + " rows");

        // Cut short; a start past the text's end.
        std::string_view cut(form.data(), form.size() - 6);
        EXPECT_FALSE(LineIndex().read(cut, starts.back()));
        std::string_view all(form);
        EXPECT_FALSE(LineIndex().read(all, starts.back() - 1));
    }
    // A line of no bytes, which no text has.
    LineIndex index;
    for (std::int64_t row = 0; row < 200; ++row)
        index.push(row * 10);
    std::string form;
    index.write(form);
    form[1 + 8 + 1 + 5] = '\0'; // the sixth length of the first group
    std::string_view in(form);
    EXPECT_FALSE(LineIndex().read(in, 2000));
}

// The layout kept before: rows in groups of 32, a full start for each group, 16-bit distances
// from it, and the starts that do not fit in a side list; each array led by its count.
std::string earlierForm(const LogDocument& doc, std::size_t hashBlock)
{
    std::vector<std::uint16_t> deltas;
    std::vector<std::int64_t> bases;
    std::vector<std::int64_t> far;
    for (std::int64_t row = 0; row < doc.rowCount().value(); ++row) {
        const std::int64_t start = doc.lineIndex(row).value();
        if (row % 32 == 0)
            bases.push_back(start);
        const std::int64_t distance = start - bases.back();
        deltas.push_back(distance < 0xFFFF ? static_cast<std::uint16_t>(distance) : 0xFFFF);
        if (distance >= 0xFFFF) {
            far.push_back(row);
            far.push_back(start);
        }
    }
    std::string out;
    PutVarint(out, hashBlock);
    PutFixed(out, static_cast<std::uint64_t>(doc.size().value()));
    PutVarint(out, static_cast<std::uint64_t>(doc.rowCount().value()));
    auto put = [&out](const void* values, std::size_t n, std::size_t bytes) {
        PutVarint(out, n);
        out.append(static_cast<const char*>(values), n * bytes);
    };
    put(deltas.data(), deltas.size(), 2);
    put(bases.data(), bases.size(), 8);
    put(far.data(), far.size() / 2, 16);
    const std::vector<std::uint64_t> hashes(static_cast<std::size_t>(doc.size().value()) / hashBlock);
    put(hashes.data(), hashes.size(), 8);
    for (int i = 0; i < 8; ++i)
        PutFixed(out, 0);
    PutVarint(out, 0);
    return out;
}

TEST(LineIndex, AnIndexKeptInTheEarlierFormIsMadeAgain)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    std::mt19937 random(7);
    const std::string plain = mixedText(random, 2000);
    dir.write("plain", plain);
    const std::string path = dir.path("app.log.gz");
    ASSERT_EQ(std::system(("gzip -c '" + dir.path("plain") + "' > '" + path + "'").c_str()), 0);
    const PagingSizes sizes{4096, 4, 1024, 1 << 16, 1 << 16};
    auto open = [&] {
        FileHandle file = OpenForReading(path);
        struct stat st {};
        ::fstat(file.fd(), &st);
        return LogDocument::fromCompressed(std::move(file), path, {st.st_dev, st.st_ino, true}, Compression::Gzip,
                                           nullptr, sizes);
    };
    const DocumentPtr first = open();
    ASSERT_FALSE(first->fromKeptIndex());
    expectLines(*first, plain, "first open");
    const DocumentPtr again = open();
    ASSERT_TRUE(again->fromKeptIndex());
    expectLines(*again, plain, "read back");

    // The restart points stay as kept; the line index and what follows go back to the
    // earlier layout, which would read as a valid index of the same rows.
    FileHandle file = OpenForReading(path);
    bool valid = false;
    const KeptIndexKey key = KeptIndexKeyOf(file.fd(), valid);
    ASSERT_TRUE(valid);
    const std::string kept = LoadKeptIndex(key);
    const std::size_t mark = kept.rfind("lines:3\n");
    ASSERT_NE(mark, std::string::npos);
    KeepIndex(key, kept.substr(0, mark) + earlierForm(*again, sizes.hashBlock));
    const DocumentPtr remade = open();
    EXPECT_FALSE(remade->fromKeptIndex());
    expectLines(*remade, plain, "made again");
    EXPECT_TRUE(open()->fromKeptIndex());
}

} // namespace
} // namespace tlg
