#pragma once

// A compressed log read in place. One pass decompresses the file once, hands its text on in
// order (to be indexed) and keeps restart points on the way: for gzip the inflate state and the
// 32 KiB window every few MiB of text, for xz with several blocks its block starts, for zstd
// with several frames (and bzip2 with several streams) the starts of those. A later read of any
// stretch decompresses from the nearest restart point before it. A stream that offers no restart
// point after its start (bzip2 or zstd of one stream or frame, xz of one block) is written once
// into a spool file in the cache folder, unlinked at once so that it goes with the text, and
// read from there. 16-bit text inside a compressed file is decoded into UTF-8 during the pass and
// spooled the same way, whatever the format.
//
// The text scanned so far can be read while the scan runs (a document of the first lines shown
// before the pass ends): the restart points and the spool are guarded, and reads reach as far as
// the text given to the sink.

#include "core/fileops.h"
#include "document/compresseddecoder.h"
#include "document/sniffing.h"
#include "document/transcodedtext.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tlg {

class CompressedText {
public:
    using RestartPoint = tlg::RestartPoint;
    using Decoder = CompressedDecoder;

    // Reads the open file `file` (its first bytes show `how`), with a restart point at least every
    // `restartEvery` bytes of text where the format allows. A decoder left where a read ended
    // keeps the last `keptBehind` bytes of text it gave, so that a read starting that little
    // before it is served without decoding again from a restart point.
    // An archive's text is its member `member`. With `shown` Utf16Le or Utf16Be the text is the
    // UTF-8 that the decompressed 16-bit text (its mark left out) decodes into, spooled; any
    // other transcoding is not made here (the text is the decompressed bytes).
    CompressedText(FileHandle file, std::string path, Compression how, std::size_t restartEvery,
                   std::size_t keptBehind, std::string member = {}, Transcoding shown = Transcoding::None);
    ~CompressedText();
    CompressedText(const CompressedText&) = delete;
    CompressedText& operator=(const CompressedText&) = delete;

    // The one pass: decompresses the file from its start, giving each piece of text to `sink` in
    // order, and keeps the restart points or the spool. Damaged or cut-off data ends the text
    // where the damage starts (damaged() tells). `bytesRead` counts compressed bytes. Throws
    // Failure when the file cannot be read or the spool written ("Cannot write the spool file
    // for <path> in <folder>: <reason>"), when an archive has no such member ("No file <member>
    // in the archive <path>") or cannot be read, when damage leaves no text at all ("Cannot
    // read file <path>: its <format> data is damaged"), and ReadStopped once `stop` is raised.
    void scan(const std::function<void(const char*, std::size_t)>& sink, std::atomic<std::int64_t>* bytesRead,
              const std::atomic<bool>* stop);

    // The scan of a file that grew after `earlier` scanned it (the same bytes up to its end):
    // decodes from the last restart point of `earlier` on, giving `sink` the text from there.
    // Fails as scan does.
    void resume(const CompressedText& earlier, const std::function<void(const char*, std::size_t)>& sink,
                std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);

    // Reads the text [offset, offset + length) into out: the bytes given (fewer past the end of
    // the text scanned, or given to the sink so far while a scan runs), or -1 when the file or
    // spool cannot be read or no longer decodes as it did. Safe from several threads at once, and
    // beside the scan: a decoder left where a read ended serves the next read that starts a
    // little after it, or up to keptBehind() bytes before it: a pass through the text decodes it
    // once, and a read that steps a little back (a stretch read after what follows it) decodes
    // nothing again.
    std::int64_t read(std::int64_t offset, std::size_t length, char* out) const;
    // How many reads decoded from a restart point rather than going on from a decoder that an
    // earlier read left: what reads cost, for benchmarks and tests.
    std::int64_t readRestarts() const { return m_readRestarts.load(std::memory_order_relaxed); }

    // Whether the open file `fd` still holds the compressed bytes scanned: no shorter, the same
    // check values over its first and last 64 KiB scanned. Throws Failure on a read error.
    bool sameFile(int fd) const;

    int fd() const { return m_file.fd(); }
    const std::string& path() const { return m_path; }
    Compression compression() const { return m_how; }
    // How the text is made of the decompressed bytes: None, Utf16Le or Utf16Be.
    Transcoding transcoding() const { return m_shown; }
    const std::string& member() const { return m_member; }
    std::size_t restartEvery() const { return m_every; }
    std::size_t keptBehind() const { return m_behind; }
    // The file's size when scanned, and the bytes of text it gave (so far, while a scan runs).
    std::int64_t fileSize() const { return m_fileSize; }
    std::int64_t textSize() const { return m_textSize.load(std::memory_order_acquire); }
    // Whether the data was damaged or cut off: the text ends where it stopped decoding.
    bool damaged() const { return m_damaged; }
    // Whether the text is read from a spool file rather than decompressed again.
    bool spooled() const;
    std::size_t restartPoints() const;
    // The restart points, once the scan has ended.
    const std::vector<RestartPoint>& points() const { return m_points; }
    // Bytes of memory the restart points and the decoders kept take.
    std::size_t memory() const;

    // The restart points and what the scan found, in the form an index is kept in; and the
    // same read back, in place of a scan, for the same file (false, and nothing taken, when the
    // form does not fit this text).
    void writePoints(std::string& out) const;
    bool readPoints(std::string_view& in);

private:
    std::unique_ptr<Decoder> decoderAt(const RestartPoint& point) const;
    // Runs `decoder` to its end, giving `sink` the text, keeping restart points (and the spool
    // while `spooling`), then notes what it found.
    void run(std::unique_ptr<Decoder> decoder, bool spooling, const std::function<void(const char*, std::size_t)>& sink,
             std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop);
    void openSpool();
    void writeSpool(const char* bytes, std::size_t length);
    std::uint64_t edgeCheck(int fd, std::int64_t offset, std::size_t length) const;

    FileHandle m_file;
    std::string m_path;
    Compression m_how;
    std::string m_member;
    std::size_t m_every;
    std::size_t m_behind;
    Transcoding m_shown;
    // Appended to and dropped by the scan's decoding thread only, under m_mutex; read under it.
    std::vector<RestartPoint> m_points;        // guarded by m_mutex while a scan runs
    std::shared_ptr<const FileHandle> m_spool; // guarded by m_mutex while a scan runs
    std::int64_t m_spooled = 0; // bytes written to the spool
    std::int64_t m_fileSize = 0;
    std::atomic<std::int64_t> m_textSize{0}; // what reads may reach
    bool m_damaged = false;
    std::uint64_t m_headCheck = 0;
    std::uint64_t m_tailCheck = 0;
    // xz read by its blocks: the check kind of its stream and where its blocks end.
    bool m_xzBlocks = false;
    int m_xzCheck = 0;
    std::int64_t m_xzEnd = 0;

    mutable std::mutex m_mutex;
    mutable std::vector<std::unique_ptr<Decoder>> m_idle; // guarded by m_mutex
    mutable std::atomic<std::int64_t> m_readRestarts{0};
};

} // namespace tlg
