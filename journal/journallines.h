#pragma once

// The systemd journal as a line source: each entry as `journalctl -o short-iso` prints it, a
// message with line breaks on several lines (the ones after its first indented below the
// message's start, as journalctl does), every line ending in LF. Entries without a message
// show nothing, as in journalctl, and neither do entries that cannot be read: both are counted.
//
// The text is never held whole. One pass formats every entry once and keeps, for each line,
// where it starts and the entry's priority, and every kStep entries a checkpoint: the entry's
// cursor and its first line. Bytes are read by seeking a reader of its own to the checkpoint
// before them and formatting forward; a few such stretches are kept for the next question.
//
// Snapshots grown from one another share their index: a grown journal is a new source that
// grewFrom the old one, built by the thread that built the first.

#include "journal/journalreader.h"
#include "document/linesource.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tlg {

class JournalLines;
using JournalLinesPtr = std::shared_ptr<const JournalLines>;

class JournalLines : public LineSource {
public:
    // Entries between checkpoints.
    static constexpr std::int64_t kStep = 64;

    // Reads the journal of `query` from its first entry to its last. `progress(percent)` is
    // called now and then, by the time of the entries read; once `stop` is raised the pass
    // ends and gives nullptr. Throws Failure saying why when the journal cannot be opened.
    static JournalLinesPtr build(const JournalQuery& query, const std::atomic<bool>* stop = nullptr,
                                 const std::function<void(int)>& progress = {});
    // The journal's last `entries` entries only: a quick first sight of a long journal. It
    // never grows. The journal stays open until releaseReader() or the tail's end, so that
    // closing it (which unmaps its windows) comes after the tail is shown.
    static JournalLinesPtr tail(const JournalQuery& query, std::int64_t entries);
    // Closes the journal a tail was read through; its lines stay.
    void releaseReader() const;

    // The entries written since this source was read, as a source that grewFrom this one;
    // nullptr when there are none. Only for the newest of the sources grown from one
    // another, on the thread that built the first.
    JournalLinesPtr grown() const;
    // A file descriptor that becomes readable when the journal may have changed (then call
    // grown()), for the thread that built the source; -1 when there is none.
    int changeDescriptor() const;

    const JournalQuery& query() const;
    // Whether this is a tail() of the journal.
    bool partial() const { return m_partial; }
    std::int64_t entryCount() const { return m_entries; }
    // Entries not shown: those that could not be read, and those without a message (which
    // is how sd-journal gives an entry whose message is broken).
    std::int64_t skipped() const { return m_skipped; }
    // The priority of a line's entry (0 emerg ... 7 debug), -1 when it has none.
    int priority(LineNumber line) const;
    // The first line of the entry that shows a line.
    LineNumber entryStart(LineNumber line) const;
    // All the fields of a line's entry, "FIELD=value" a line; "" when it cannot be read.
    std::string fieldsOf(LineNumber line) const;
    // The values each of kListedFields takes among the entries read, with how many entries
    // hold each: in the order first met (for boots: the earliest first). Entries shown only.
    using FieldCounts = std::vector<std::pair<std::string, std::int64_t>>;
    FieldCounts fieldCounts(std::size_t field) const;
    // The journal's boots whatever the matches, earliest first: those it held when read, then
    // any begun since.
    std::vector<JournalBoot> boots() const;
    // The first line of the first entry at or after a time (microseconds since 1970 UTC), the
    // line count when there is none; through the journal's own index.
    LineNumber lineAtTime(std::uint64_t microseconds) const;

    ByteOffset size() const override { return m_size; }
    LineCount lineCount() const override { return m_lines; }
    LineCount rowCount() const override { return m_lines + 1; }
    ByteOffset lineIndex(LineNumber line) const override;
    ByteOffset lineContentEnd(LineNumber line) const override;
    LineNumber lineFromOffset(ByteOffset offset) const override;
    TextSlice slice(ByteOffset from, ByteOffset to) const override;
    std::int64_t longestLine() const override { return m_longest; }
    std::int64_t widestLineColumns() const override { return m_longest; }
    bool grewFrom(const LineSource& earlier) const override;
    // By its entry's priority: emerg to err an error, warning and notice an info.
    LineLevel lineLevel(LineNumber line) const override;

    // How much the process's resident memory may grow while one reader of the journal reads
    // before a new reader takes its place (48 MiB): sd-journal keeps the files it read mapped
    // until its reader closes. For tests, which make it 0 to renew readers all the time.
    static void setReaderGrowth(std::int64_t bytes);

    // Memory the index takes, for benchmarks and tests.
    std::size_t memory() const;

    struct Store;
    explicit JournalLines(std::shared_ptr<Store> store);

private:
    // The snapshot of the store as it stands now.
    void takeCounts();
    ByteOffset startOf(std::int64_t line) const;
    // The checkpoint before a line.
    std::int64_t pointOf(LineNumber line) const;
    // The first line after checkpoint `point`'s stretch, within this snapshot.
    std::int64_t pointEnd(std::int64_t point) const;
    // The text of checkpoint `point`'s stretch, exactly as long as the index says.
    std::shared_ptr<const std::string> stretch(std::int64_t point) const;

    std::shared_ptr<Store> m_store;
    LineCount m_lines = 0;
    std::int64_t m_entries = 0;
    std::int64_t m_points = 0;
    ByteOffset m_size = 0;
    std::int64_t m_skipped = 0;
    std::int64_t m_longest = 0;
    bool m_partial = false;
};

} // namespace tlg
