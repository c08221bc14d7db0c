// Compressed logs read in place: each format, in one unit and in several one after another (split
// between a CR and its LF, and within a line), read with tiny blocks and restart points so that
// every seam is crossed, answers exactly as the plain text does, at every line and at random
// stretches; cut-off data shows the text up to the damage; the loads recognise a compressed file
// by its bytes and follow one that grows.

#include "core/errors.h"
#include "core/fileops.h"
#include "document/archivereader.h"
#include "document/compressedindexcache.h"
#include "document/compressedtext.h"
#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/textcheck.h"
#include "document/textload.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

using testing::TempDir;

// Lines of varied length ending in LF, CR LF or a lone CR, with tabs, without a final break.
std::string SampleText(std::size_t bytes, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text;
    int line = 0;
    while (text.size() < bytes) {
        text += "2026-12-08 03:" + std::to_string(line % 60) + " line " + std::to_string(line);
        const int extra = static_cast<int>(random() % 120);
        for (int i = 0; i < extra; ++i)
            text += static_cast<char>(i % 17 == 0 ? '\t' : 'a' + static_cast<int>(random() % 26));
        const unsigned end = random() % 10;
        text += end < 6 ? "\n" : end < 9 ? "\r\n" : "\r";
        ++line;
    }
    text += "last line without a break";
    return text;
}

void Shell(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A compressed file written by the format's own program, of the text split into units at `cuts`
// (each unit compressed by itself, the files put one after another).
struct Format {
    const char* name;
    const char* command; // reads a file named by $in, writes to stdout
    Compression how;
    bool restarts;      // more than one restart point is kept for a file of one unit
    bool unitsRestart;  // units one after another start again (xz streams do not)
};

const Format kFormats[] = {
    {"gzip", "gzip -6 -c", Compression::Gzip, true, true},
    {"xz", "xz -c", Compression::Xz, false, false},
    {"xzblocks", "xz --block-size=20000 -c", Compression::Xz, true, false},
    {"bzip2", "bzip2 -c", Compression::Bzip2, false, true},
    {"zstd", "zstd -q -c", Compression::Zstd, false, true},
};

std::string Compress(const TempDir& dir, const Format& format, const std::string& text,
                     const std::vector<std::size_t>& cuts, const std::string& name = "log")
{
    const std::string out = dir.path(name + "." + format.name);
    std::filesystem::remove(out);
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t to = i < cuts.size() ? cuts[i] : text.size();
        const std::string part = dir.write("part", text.substr(from, to - from));
        Shell(std::string(format.command) + " '" + part + "' >> '" + out + "'");
        from = to;
    }
    return out;
}

DocumentPtr OpenCompressed(const std::string& path, const PagingSizes& sizes, const PartialDocuments& partial = {},
                           Transcoding shown = Transcoding::None)
{
    FileHandle file = OpenForReading(path);
    char head[8] = {};
    EXPECT_EQ(::pread(file.fd(), head, sizeof head, 0), 8);
    const Compression how = CompressionOf(std::string_view(head, sizeof head));
    EXPECT_NE(how, Compression::None);
    struct stat st {};
    ::fstat(file.fd(), &st);
    return LogDocument::fromCompressed(std::move(file), path, {st.st_dev, st.st_ino, true}, how, nullptr, sizes, nullptr,
                                       {}, shown, partial);
}

// Every line of `doc` is the line of the plain text, and random stretches read the same.
void ExpectSameText(const LogDocument& doc, const std::string& plain, unsigned seed)
{
    const DocumentPtr expected = LogDocument::fromBytes(plain);
    ASSERT_EQ(doc.size(), expected->size());
    // The whole text in one pass, then line by line and at random through the restart points.
    const std::string whole(doc.read(0, doc.size()).view());
    const auto differs = std::mismatch(whole.begin(), whole.end(), plain.begin()).first;
    ASSERT_EQ(differs - whole.begin(), static_cast<std::ptrdiff_t>(whole.size())) << "first difference";
    ASSERT_EQ(doc.lineCount(), expected->lineCount());
    for (LineNumber line = 0; line < EndLine(doc.lineCount()); ++line) {
        ASSERT_EQ(doc.lineIndex(line), expected->lineIndex(line)) << "line " << line.value();
        ASSERT_EQ(doc.lineContentEnd(line), expected->lineContentEnd(line)) << "line " << line.value();
    }
    std::mt19937 random(seed);
    const auto size = static_cast<std::size_t>(plain.size());
    for (int i = 0; i < 300 && size > 0; ++i) {
        const std::size_t from = random() % size;
        const std::size_t to = std::min(size, from + random() % (i % 3 == 0 ? 5000 : 300));
        const ByteOffset a = static_cast<ByteOffset>(from);
        const ByteOffset b = static_cast<ByteOffset>(to);
        ASSERT_EQ(std::string(i % 2 ? doc.slice(a, b).view() : doc.read(a, b).view()), plain.substr(from, to - from))
            << "at " << from;
    }
    EXPECT_FALSE(doc.stale());
}

class CompressedFormats : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override { ::setenv("XDG_CACHE_HOME", m_cache.folder().c_str(), 1); }
    TempDir m_dir;
    TempDir m_cache;
};

TEST_P(CompressedFormats, OneUnitReadsAsThePlainText)
{
    const Format& format = GetParam();
    const std::string plain = SampleText(300000, 1);
    const std::string path = Compress(m_dir, format, plain, {});
    const PagingSizes sizes{64, 2, 16, 7, 1000};
    const DocumentPtr doc = OpenCompressed(path, sizes);
    ASSERT_TRUE(doc->compressed());
    EXPECT_EQ(doc->compressed()->compression(), format.how);
    EXPECT_FALSE(doc->compressed()->damaged());
    EXPECT_EQ(doc->compressed()->spooled(), !format.restarts);
    EXPECT_EQ(doc->compressed()->restartPoints() > 1, format.restarts);
    ExpectSameText(*doc, plain, 2);
    // The spool is unlinked at once: nothing but kept indexes is left in the cache folder.
    for (const auto& entry : std::filesystem::directory_iterator(m_cache.path("tlgview")))
        EXPECT_TRUE(entry.path().filename().string().starts_with("index-")) << entry.path();
    // The second open reads the index kept, unless the text was spooled.
    const DocumentPtr again = OpenCompressed(path, sizes);
    EXPECT_EQ(again->fromKeptIndex(), format.restarts);
    ExpectSameText(*again, plain, 3);
}

TEST_P(CompressedFormats, UnitsOneAfterAnotherReadAsOneText)
{
    const Format& format = GetParam();
    const std::string plain = SampleText(200000, 3);
    // A cut between a CR and its LF, one within a line, and a unit of one byte.
    const std::size_t crlf = plain.find("\r\n", 50000) + 1;
    const std::size_t within = plain.find('\n', 120000) - 5;
    const std::string path = Compress(m_dir, format, plain, {crlf, within, within + 1});
    const DocumentPtr doc = OpenCompressed(path, {64, 2, 16, 7, 1000});
    EXPECT_FALSE(doc->compressed()->damaged());
    // Units that start again make the spool needless.
    EXPECT_EQ(doc->compressed()->spooled(), !format.unitsRestart);
    if (format.unitsRestart) {
        EXPECT_GT(doc->compressed()->restartPoints(), 2u);
    }
    ExpectSameText(*doc, plain, 4);
}

TEST_P(CompressedFormats, CutOffDataShowsTheTextUpToTheDamage)
{
    const Format& format = GetParam();
    const std::string plain = SampleText(200000, 5);
    const std::string path = Compress(m_dir, format, plain, {});
    const auto size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, size * 2 / 3);
    if (format.how == Compression::Bzip2) {
        // Its one block cut off leaves no text at all: the file cannot be read, and says why.
        try {
            OpenCompressed(path, {64, 2, 16, 7, 1000});
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(std::string(failure.what()), "Cannot read file " + path + ": its bzip2 data is damaged");
        }
        return;
    }
    const DocumentPtr doc = OpenCompressed(path, {64, 2, 16, 7, 1000});
    EXPECT_TRUE(doc->compressed()->damaged());
    const auto shown = static_cast<std::size_t>(doc->size());
    EXPECT_LT(shown, plain.size());
    ASSERT_EQ(doc->slice(0, doc->size()).view(), plain.substr(0, shown));
    ExpectSameText(*doc, plain.substr(0, shown), 6);
}

TEST_P(CompressedFormats, GrowthIsDecodedFromTheLastRestartPoint)
{
    const Format& format = GetParam();
    const std::string plain = SampleText(200000, 7);
    const std::size_t crlf = plain.find("\r\n", 120000) + 1;
    const std::size_t within = plain.find('\n', 160000) - 3;
    const std::string path = Compress(m_dir, format, plain.substr(0, crlf), {});
    const PagingSizes sizes{64, 2, 16, 7, 1000};
    DocumentPtr first = OpenCompressed(path, sizes);
    ExpectSameText(*first, plain.substr(0, crlf), 8);

    // Units appended: one after a CR whose LF it starts with, one ending within a line.
    const std::string more = Compress(m_dir, format, plain.substr(crlf, within - crlf), {}, "more");
    Shell("cat '" + more + "' >> '" + path + "'");
    const DocumentPtr second = first->grown();
    EXPECT_FALSE(second->compressed()->damaged());
    ExpectSameText(*second, plain.substr(0, within), 9);
    // (A spooled text, and xz, are read again whole.)
    EXPECT_EQ(second->grewFrom(*first), format.how == Compression::Gzip);
    ExpectSameText(*first, plain.substr(0, crlf), 10); // the earlier text reads as it did

    const std::string rest = Compress(m_dir, format, plain.substr(within), {}, "rest");
    Shell("cat '" + rest + "' >> '" + path + "'");
    const DocumentPtr third = LoadTextAfter(path, Transcoding::None, second);
    ExpectSameText(*third, plain, 11);
    EXPECT_EQ(third->grown(), third); // nothing more

    // Each document holds the text it reads through and no other: an earlier text goes with
    // the last document that holds it.
    const std::weak_ptr<const CompressedText> firstText = first->compressed();
    EXPECT_NE(firstText.lock(), second->compressed());
    EXPECT_NE(second->compressed(), third->compressed());
    first.reset();
    EXPECT_TRUE(firstText.expired());
    ExpectSameText(*second, plain.substr(0, within), 12);
}

// While the pass goes on, each document told holds exactly the first lines of the text and reads
// them (at a random line, told while the decoding runs ahead and adds restart points, or drops
// its spool); each grows into the next and into the whole text.
TEST_P(CompressedFormats, PartialDocumentsAreTheFirstLinesWhileThePassGoesOn)
{
    const Format& format = GetParam();
    const std::string plain = SampleText(400000, 51);
    const std::size_t crlf = plain.find("\r\n", 150000) + 1;
    const std::string path = Compress(m_dir, format, plain, {crlf, 300000});
    const DocumentPtr expected = LogDocument::fromBytes(plain);
    PagingSizes sizes{64, 2, 16, 7, 1000};
    sizes.partialEvery = 15000;
    std::vector<DocumentPtr> told;
    std::mt19937 random(52);
    const DocumentPtr whole = OpenCompressed(path, sizes, [&](const DocumentPtr& doc) {
        ASSERT_TRUE(doc->partial());
        const LineCount lines = doc->lineCount();
        ASSERT_GT(lines, 0);
        ASSERT_LT(lines, expected->lineCount());
        EXPECT_EQ(doc->size(), expected->lineIndex(EndLine(lines))); // whole lines only
        const LineNumber line(static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(lines.value())));
        ASSERT_EQ(doc->slice(doc->lineIndex(line), doc->lineContentEnd(line)).view(),
                  expected->slice(expected->lineIndex(line), expected->lineContentEnd(line)).view())
            << "line " << line.value() << " of " << lines.value();
        told.push_back(doc);
    });
    ASSERT_GE(told.size(), 10u);
    ExpectSameText(*whole, plain, 53);
    for (std::size_t i = 0; i < told.size(); ++i) {
        SCOPED_TRACE(i);
        const LogDocument& doc = *told[i];
        ASSERT_EQ(doc.read(0, doc.size()).view(), std::string_view(plain).substr(0, static_cast<std::size_t>(doc.size())));
        // (The lines an earlier one holds were checked with it.)
        for (LineNumber line = i > 0 ? EndLine(told[i - 1]->lineCount()) : 0; line < EndLine(doc.lineCount()); ++line) {
            ASSERT_EQ(doc.lineIndex(line), expected->lineIndex(line)) << "line " << line.value();
            ASSERT_EQ(doc.lineContentEnd(line), expected->lineContentEnd(line)) << "line " << line.value();
        }
        EXPECT_FALSE(doc.stale());
        EXPECT_TRUE(whole->grewFrom(doc));
        if (i > 0) {
            EXPECT_TRUE(doc.grewFrom(*told[i - 1]));
            EXPECT_GT(doc.lineCount(), told[i - 1]->lineCount());
        }
    }
    // A partial document is never followed from where it ended: its growth is the whole text.
    ExpectSameText(*told.front()->grown(), plain, 54);
}

// A gzip file read while its writer had not finished it shows what was there, and the rest
// once it is there.
TEST(CompressedText, AGzipFileFinishedAfterItWasReadGrows)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    const std::string plain = SampleText(150000, 31);
    dir.write("plain", plain);
    const std::string whole = dir.path("whole.gz");
    Shell("gzip -c '" + dir.path("plain") + "' > '" + whole + "'");
    const std::string path = dir.path("app.log.gz");
    Shell("head -c $(( $(stat -c %s '" + whole + "') / 2 )) '" + whole + "' > '" + path + "'");
    const PagingSizes sizes{64, 2, 16, 7, 1000};
    const DocumentPtr cut = OpenCompressed(path, sizes);
    EXPECT_TRUE(cut->compressed()->damaged());
    EXPECT_EQ(std::string(cut->read(0, cut->size()).view()), plain.substr(0, static_cast<std::size_t>(cut->size())));
    Shell("cat '" + whole + "' > '" + path + "'"); // the same file, written to its end
    const DocumentPtr done = LoadTextAfter(path, Transcoding::None, cut);
    EXPECT_FALSE(done->compressed()->damaged());
    ExpectSameText(*done, plain, 32);
}

INSTANTIATE_TEST_SUITE_P(Formats, CompressedFormats, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

TEST(CompressedText, IsRecognisedByItsBytes)
{
    EXPECT_EQ(CompressionOf("\x1f\x8b\x08\x00\x00\x00"), Compression::Gzip);
    EXPECT_EQ(CompressionOf(std::string_view("\xfd" "7zXZ\0\0", 7)), Compression::Xz);
    EXPECT_EQ(CompressionOf("BZh91AY&SY"), Compression::Bzip2);
    EXPECT_EQ(CompressionOf("\x28\xb5\x2f\xfd\x24\x00"), Compression::Zstd);
    EXPECT_EQ(CompressionOf("BZh 12345"), Compression::None);
    EXPECT_EQ(CompressionOf("2026-12-08 a log line"), Compression::None);
    EXPECT_EQ(CompressionOf(""), Compression::None);
}

// A file named .gz that holds plain text is plain text, and a plain name holding gzip is
// decompressed; the file that grows by a member is read again and shows the new lines.
TEST(CompressedText, LoadsFollowTheBytesAndTheGrowth)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    const std::string plainNamedGz = dir.write("plain.gz", "one\ntwo\n");
    const DocumentPtr plain = LoadPlainText(plainNamedGz);
    EXPECT_FALSE(plain->compressed());
    EXPECT_EQ(plain->lineCount(), 2);

    const std::string first = SampleText(100000, 7);
    const std::string path = dir.path("app.log");
    Shell("printf '%s' '" + first.substr(0, 10) + "' | gzip -c > '" + path + "'");
    dir.write("rest", first.substr(10));
    Shell("gzip -c '" + dir.path("rest") + "' >> '" + path + "'");
    EXPECT_EQ(TextHeadOf(path, 10), first.substr(0, 10));
    std::atomic<std::int64_t> done{0};
    const DocumentPtr doc = LoadPlainText(path, &done);
    ASSERT_TRUE(doc->compressed());
    EXPECT_EQ(done.load(), static_cast<std::int64_t>(std::filesystem::file_size(path)));
    ExpectSameText(*doc, first, 8);

    // Unchanged: still the file's, and a load after it is the same document.
    TextCheck check;
    EXPECT_TRUE(TextStillInFile(path, *doc, check));
    EXPECT_EQ(LoadTextAfter(path, Transcoding::None, doc), doc);

    const std::string more = "\nappended 1\nappended 2\n";
    dir.write("more", more);
    Shell("gzip -c '" + dir.path("more") + "' >> '" + path + "'");
    EXPECT_TRUE(TextStillInFile(path, *doc, check)); // only grown
    const DocumentPtr grown = LoadTextAfter(path, Transcoding::None, doc);
    ExpectSameText(*grown, first + more, 9);

    // Rewritten: no longer the file's.
    dir.write("other", "something else entirely\n");
    Shell("gzip -c '" + dir.path("other") + "' > '" + path + "'");
    EXPECT_FALSE(TextStillInFile(path, *grown, check));
    ExpectSameText(*LoadTextAfter(path, Transcoding::None, grown), "something else entirely\n", 10);
}

// A kept index serves only the very file it was made of: a new modification time, a change of
// size or a kept form cut short make it again; the kept indexes stay within their bound.
TEST(CompressedText, KeptIndexServesOnlyItsOwnFile)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    const std::string plain = SampleText(150000, 11);
    dir.write("plain", plain);
    const std::string path = dir.path("app.log.gz");
    Shell("gzip -c '" + dir.path("plain") + "' > '" + path + "'");
    const PagingSizes sizes{64, 2, 16, 7, 1000};
    EXPECT_FALSE(OpenCompressed(path, sizes)->fromKeptIndex());
    EXPECT_TRUE(OpenCompressed(path, sizes)->fromKeptIndex());

    // Touched: the same bytes, another time.
    Shell("touch -d '2001-02-03 04:05:06.123456789' '" + path + "'");
    EXPECT_FALSE(OpenCompressed(path, sizes)->fromKeptIndex());
    EXPECT_TRUE(OpenCompressed(path, sizes)->fromKeptIndex());
    Shell("touch -d '2001-02-03 04:05:06.123456788' '" + path + "'");
    EXPECT_FALSE(OpenCompressed(path, sizes)->fromKeptIndex());

    // Grown by a member: made again, and showing the whole text.
    dir.write("more", "one more line\n");
    Shell("gzip -c '" + dir.path("more") + "' >> '" + path + "'");
    const DocumentPtr grown = OpenCompressed(path, sizes);
    EXPECT_FALSE(grown->fromKeptIndex());
    ExpectSameText(*grown, plain + "one more line\n", 12);

    // A kept form cut short is not used.
    const auto kept = std::filesystem::directory_iterator(cache.path("tlgview"))->path();
    std::filesystem::resize_file(kept, std::filesystem::file_size(kept) - 10);
    EXPECT_FALSE(OpenCompressed(path, sizes)->fromKeptIndex());
    const DocumentPtr back = OpenCompressed(path, sizes);
    EXPECT_TRUE(back->fromKeptIndex());
    ExpectSameText(*back, plain + "one more line\n", 13);

    // The bound: keeping another file's index drops the least recently used.
    const std::string other = dir.path("other.gz");
    Shell("gzip -c '" + dir.path("more") + "' > '" + other + "'");
    OpenCompressed(other, sizes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cache.path("tlgview")), {}), 2);
    bool valid = false;
    FileHandle file = OpenForReading(other);
    KeepIndex(KeptIndexKeyOf(file.fd(), valid), "x", 100);
    ASSERT_TRUE(valid);
    EXPECT_FALSE(OpenCompressed(path, sizes)->fromKeptIndex());
}

// An archive's members are listed, and the one chosen is its text (the first when none was),
// read through a spool; tar, tar compressed and zip alike.
TEST(ArchiveMembers, TheChosenMemberIsTheText)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    const std::string first = SampleText(30000, 21);
    const std::string second = SampleText(90000, 22);
    std::filesystem::create_directories(dir.path("logs/empty"));
    dir.write("logs/a.log", first);
    dir.write("logs/b.log", second);
    struct Kind {
        const char* name;
        const char* command; // run in dir, writing the archive named $out
    };
    const Kind kinds[] = {
        {"x.tar", "tar -cf"},
        {"x.tar.gz", "tar -czf"},
        {"x.tar.xz", "tar -cJf"},
        {"x.zip", "zip -qr"},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string path = dir.path(kind.name);
        Shell("cd '" + dir.folder() + "' && " + kind.command + " '" + path + "' logs");
        const std::vector<ArchiveMember> members = ListArchive(path);
        ASSERT_EQ(members.size(), 2u);
        const bool aFirst = members[0].name == "logs/a.log";
        EXPECT_EQ(members[aFirst ? 1 : 0].name, "logs/b.log");
        EXPECT_EQ(members[aFirst ? 1 : 0].size, static_cast<std::int64_t>(second.size()));

        const DocumentPtr unchosen = LoadPlainText(path);
        ASSERT_TRUE(unchosen->compressed());
        EXPECT_EQ(unchosen->compressed()->member(), members[0].name);

        ChooseArchiveMember(path, "logs/b.log");
        EXPECT_EQ(TextHeadOf(path, 20), second.substr(0, 20));
        const DocumentPtr doc = LoadPlainText(path);
        EXPECT_TRUE(doc->compressed()->spooled());
        EXPECT_FALSE(doc->compressed()->damaged());
        ExpectSameText(*doc, second, 23);
        // Unchanged, it stays; a follow reads nothing.
        EXPECT_EQ(LoadTextAfter(path, Transcoding::None, doc), doc);

        ChooseArchiveMember(path, "logs/gone.log");
        EXPECT_THROW(
            {
                try {
                    LoadPlainText(path);
                } catch (const Failure& failure) {
                    EXPECT_EQ(std::string(failure.what()), "No file logs/gone.log in the archive " + path);
                    throw;
                }
            },
            Failure);
    }
    // Not an archive: said so when listed.
    EXPECT_THROW(ListArchive(dir.path("logs/a.log")), Failure);
}

// A stop raised while the pass runs ends it at its next piece, its decoding thread with it; no
// document and no kept index come of it.
TEST(CompressedText, AStoppedPassLeavesNothing)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    dir.write("plain", SampleText(3000000, 41));
    const std::string path = dir.path("big.gz");
    Shell("gzip -1 -c '" + dir.path("plain") + "' > '" + path + "'");
    std::atomic<bool> stop{false};
    FileHandle file = OpenForReading(path);
    auto text = std::make_shared<CompressedText>(std::move(file), path, Compression::Gzip, 1000, 0);
    std::size_t seen = 0;
    EXPECT_THROW(text->scan(
                     [&](const char*, std::size_t length) {
                         seen += length;
                         stop = true; // raised at the first piece
                     },
                     nullptr, &stop),
                 ReadStopped);
    EXPECT_GT(seen, 0u);
    EXPECT_LT(seen, 3000000u);
    stop = true;
    EXPECT_THROW(LoadText(path, Transcoding::None, nullptr, &stop), ReadStopped);
    EXPECT_FALSE(std::filesystem::exists(cache.path("tlgview")) &&
                 std::filesystem::directory_iterator(cache.path("tlgview")) != std::filesystem::directory_iterator());
}

// 16-bit text inside a compressed file shows as the same file uncompressed does: decoded into
// UTF-8 (its mark left out), spooled; found by its decompressed first bytes.
TEST(CompressedText, SixteenBitTextIsDecoded)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    // ASCII lines, with letters beyond it and a pair of surrogates, CR LF and LF breaks.
    std::u16string units;
    for (int i = 0; i < 4000; ++i) {
        for (char c : "line " + std::to_string(i) + " ")
            units += static_cast<char16_t>(c);
        units += i % 7 == 0 ? u"caf\u00e9 \u65e5\u672c \U0001F600" : u"plain";
        units += i % 3 == 0 ? u"\r\n" : u"\n";
    }
    struct Form {
        const char* name;
        Transcoding how;
        std::string mark;
    };
    const Form forms[] = {{"le-mark", Transcoding::Utf16Le, "\xFF\xFE"},
                          {"le", Transcoding::Utf16Le, ""},
                          {"be-mark", Transcoding::Utf16Be, "\xFE\xFF"}};
    for (const Form& form : forms) {
        SCOPED_TRACE(form.name);
        std::string bytes = form.mark;
        for (char16_t unit : units) {
            const char low = static_cast<char>(unit & 0xFF);
            const char high = static_cast<char>(unit >> 8);
            bytes += form.how == Transcoding::Utf16Le ? std::string{low, high} : std::string{high, low};
        }
        const std::string plain = dir.write(std::string(form.name) + ".log", bytes);
        const std::string path = dir.path(std::string(form.name) + ".log.gz");
        Shell("gzip -c '" + plain + "' > '" + path + "'");
        EXPECT_EQ(DetectEncoding(TextHeadOf(path, kDetectionSample)).encoding,
                  form.how == Transcoding::Utf16Le ? Encoding::Utf16Le : Encoding::Utf16Be);
        const DocumentPtr expected = LoadText(plain, form.how);
        const DocumentPtr doc = LoadText(path, form.how);
        ASSERT_TRUE(doc->compressed());
        EXPECT_TRUE(doc->compressed()->spooled());
        EXPECT_EQ(doc->transcoding(), form.how);
        ASSERT_EQ(doc->size(), expected->size());
        ASSERT_EQ(doc->lineCount(), expected->lineCount());
        EXPECT_EQ(doc->read(0, doc->size()).view(), expected->read(0, expected->size()).view());
        for (LineNumber line = 0; line < EndLine(doc->lineCount()); line += 97)
            EXPECT_EQ(doc->slice(doc->lineIndex(line), doc->lineContentEnd(line)).view(),
                      expected->slice(expected->lineIndex(line), expected->lineContentEnd(line)).view());
        // Followed as it was read: a member appended shows decoded too.
        std::string more;
        for (char c : std::string("appended\n"))
            more += form.how == Transcoding::Utf16Le ? std::string{c, '\0'} : std::string{'\0', c};
        dir.write("more", more);
        Shell("gzip -c '" + dir.path("more") + "' >> '" + path + "'");
        const DocumentPtr grown = LoadTextAfter(path, form.how, doc);
        EXPECT_EQ(grown->read(0, grown->size()).view(), std::string(expected->read(0, expected->size()).view()) + "appended\n");
        // Asked for as bytes, it shows the bytes.
        EXPECT_EQ(LoadText(path, Transcoding::None)->size(), static_cast<ByteOffset>(bytes.size() + more.size()));
    }
}

// A read that starts a little before where an earlier read left its decoder (as one across cache
// blocks does, after the block that holds its end) is served from the text the decoder kept
// behind it and goes on decoding from there, never from a restart point; what lies further
// back still reads right.
TEST(CompressedText, AReadJustBehindADecoderDecodesNothingAgain)
{
    TempDir dir;
    const std::string plain = SampleText(400000, 51);
    constexpr std::size_t kBehind = 5000;
    for (const Format& format : {kFormats[0], kFormats[2]}) {
        SCOPED_TRACE(format.name);
        const std::string path = Compress(dir, format, plain, {});
        CompressedText text(OpenForReading(path), path, format.how, 20000, kBehind);
        text.scan([](const char*, std::size_t) {}, nullptr, nullptr);
        ASSERT_GT(text.restartPoints(), 5u);
        auto readsAsPlain = [&](std::size_t from, std::size_t length) {
            std::string out(length, '\0');
            ASSERT_EQ(text.read(static_cast<std::int64_t>(from), length, out.data()), static_cast<std::int64_t>(length));
            ASSERT_EQ(out, plain.substr(from, length)) << "at " << from;
        };
        std::mt19937 random(52);
        for (int i = 0; i < 60; ++i) {
            // Reads longer and shorter than what is kept, from anywhere.
            const std::size_t from = random() % (plain.size() - 20000);
            const std::size_t length = 1 + random() % (i % 2 ? 9000 : 900);
            readsAsPlain(from, length);
            const std::int64_t restarts = text.readRestarts();
            // Back into what that read gave, and on past its end; then back into what both gave.
            const std::size_t back = 1 + random() % std::min(length, kBehind);
            const std::size_t end = from + length + random() % 3000;
            readsAsPlain(from + length - back, end - (from + length - back));
            EXPECT_EQ(text.readRestarts(), restarts) << "behind " << from + length;
            readsAsPlain(end - 1 - random() % std::min(end - from, kBehind), random() % 100);
            EXPECT_EQ(text.readRestarts(), restarts) << "behind " << end;
            // Further back than anything kept.
            if (from > 2 * kBehind)
                readsAsPlain(from - kBehind - 1 - random() % kBehind, 1 + random() % 2000);
        }
    }
}

// A jump's screenful whose lines cross from one cache block into the next: the later block is
// read first (where a line ends is found first), then the stretch across the two. Its restart
// point is decoded from once, not once for each.
TEST(CompressedText, AScreenAcrossTwoCacheBlocksDecodesFromItsRestartPointOnce)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    const std::string plain = SampleText(400000, 61);
    const DocumentPtr expected = LogDocument::fromBytes(plain);
    constexpr std::int64_t kBlock = 2048;
    constexpr std::int64_t kScreen = 20;
    for (const Format& format : {kFormats[0], kFormats[2]}) {
        SCOPED_TRACE(format.name);
        const DocumentPtr doc = OpenCompressed(Compress(dir, format, plain, {}), {kBlock, 4, 512, 1u << 20, 20000});
        const std::vector<CompressedText::RestartPoint>& points = doc->compressed()->points();
        ASSERT_GT(points.size(), 5u);
        int jumps = 0;
        // Back from the last unit to the first, into the middle of each: no decoder stands
        // before the screen in its unit, nor keeps its text.
        for (std::size_t i = points.size() - 1; i-- > 0;) {
            // (Found in the text held in memory: the document's lines are not read before the jump.)
            const auto middle = static_cast<ByteOffset>((points[i].text + points[i + 1].text) / 2);
            LineNumber across = expected->lineFromOffset(middle) + 1;
            while (expected->lineIndex(across) / kBlock == (expected->lineContentEnd(across) - 1) / kBlock)
                ++across;
            // The line across the blocks first on the screen, or some way down it.
            const LineNumber first = across - (i % 2 ? 0 : 3);
            ASSERT_LT(expected->lineIndex(first + kScreen) + 2 * kBlock, points[i + 1].text);
            const std::int64_t restarts = doc->compressed()->readRestarts();
            for (LineNumber line = first; line < first + kScreen; ++line) {
                ASSERT_EQ(doc->slice(doc->lineIndex(line), doc->lineContentEnd(line)).view(),
                          expected->slice(expected->lineIndex(line), expected->lineContentEnd(line)).view())
                    << "line " << line.value();
            }
            EXPECT_EQ(doc->compressed()->readRestarts() - restarts, 1) << "a screen from line " << first.value();
            ++jumps;
        }
        EXPECT_GT(jumps, 5);
    }
}

// An empty compressed file is an empty text; garbage after the last gzip member is left out.
TEST(CompressedText, EdgesOfTheStream)
{
    TempDir dir;
    TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.folder().c_str(), 1);
    const std::string empty = dir.path("empty.gz");
    Shell("printf '' | gzip -c > '" + empty + "'");
    const DocumentPtr none = LoadPlainText(empty);
    ASSERT_TRUE(none->compressed());
    EXPECT_EQ(none->size(), 0);
    EXPECT_FALSE(none->compressed()->damaged());

    const std::string padded = dir.path("padded.gz");
    Shell("printf 'a\\nb\\n' | gzip -c > '" + padded + "'; printf '\\0\\0\\0\\0' >> '" + padded + "'");
    const DocumentPtr doc = LoadPlainText(padded);
    EXPECT_EQ(doc->slice(0, doc->size()).view(), "a\nb\n");
    EXPECT_FALSE(doc->compressed()->damaged());
}

} // namespace
} // namespace tlg
