// 16-bit text and the encoding of the load buffer: detection after each open and manual
// reload, and the conversion that rewrites the buffer. Handlers of the open log.

#include "source/logfollower.h"

#include "core/fileops.h"
#include "core/statuspanels.h"
#include "view/logview.h"
#include "document/textload.h"
#include "document/unicode.h"

#include <QAbstractButton>

namespace tlg {

bool LogFollower::DetectUnicode()
{
    // Every caller has just loaded the file into the buffer: its first bytes are looked at as
    // they are, so a log that grows meanwhile is never taken for 16-bit text. Only the first
    // 64 KiB decide the encoding; a text without NULs (the index knows) needs no pass to tell
    // whether NULs must be dropped, and one with them is looked through beside the GUI thread.
    const TextSlice head = m_loadBuffer->slice(0, static_cast<ByteOffset>(kDetectionSample));
    const Detection found = DetectEncoding(head.view());
    m_encoding = m_encodingChoice.automatic ? found.encoding : m_encodingChoice.forced;
    if (m_encoding == Encoding::Utf16Le || m_encoding == Encoding::Utf16Be) {
        m_unicodeKind = UnicodeKind::Utf16;
    } else if (!m_loadBuffer->holdsNul()) {
        m_unicodeKind = ClassifyLoadedText(*m_loadBuffer);
    } else {
        const DocumentPtr loaded = m_loadBuffer;
        UnicodeKind kind = UnicodeKind::SingleByte;
        readAside(
            [&kind, loaded](std::atomic<std::int64_t>&) {
                kind = ClassifyLoadedText(*loaded);
                return loaded;
            },
            0);
        m_unicodeKind = kind;
    }
    return m_unicodeKind != UnicodeKind::SingleByte;
}

void LogFollower::ConvertUnicode()
{
    setStatusText(1, QStringLiteral("Converting Unicode"));
    pumpEvents();
    const std::string path = nativePath();
    const std::int64_t size = FileSizeOf(path);
    switch (m_unicodeKind) {
    case UnicodeKind::SingleByte:
        // A plain load, which need not read again what the buffer already holds.
        LoadIntoBufferAfter();
        break;
    case UnicodeKind::NulBytes:
        m_loadBuffer = readAside([path](auto&) { return LogDocument::fromBytes(ReadDroppingNuls(path)); }, size);
        break;
    case UnicodeKind::ByteOrderMark:
        m_loadBuffer = readAside([path](auto&) { return LogDocument::fromBytes(ReadAfterMark(path)); }, size);
        break;
    case UnicodeKind::Utf16: {
        const bool bigEndian = m_encoding == Encoding::Utf16Be;
        m_loadBuffer = readAside(
            [path, bigEndian](auto&) { return LoadUtf16Text(path, bigEndian); }, size);
        break;
    }
    }
    setStatusText(1, QStringLiteral("Unicode conversion Finished"));
    pumpEvents();
}

void LogFollower::UnicodeStep()
{
    // A load that fails leaves the open log's encoding as it was.
    const UnicodeKind kindBefore = m_unicodeKind;
    const Encoding encodingBefore = m_encoding;
    try {
        if (DetectUnicode() || m_controls.unicodeButton->isChecked()) {
            m_controls.unicodeButton->setChecked(true);
            ConvertUnicode();
        }
    } catch (...) {
        m_unicodeKind = kindBefore;
        m_encoding = encodingBefore;
        throw;
    }
    m_view1->setEncoding(HeldEncoding(m_encoding));
    m_view3->setEncoding(HeldEncoding(m_encoding));
    setStatusText(1, QString::fromLatin1(EncodingName(m_encoding)));
}

void LogFollower::ChooseEncoding(EncodingChoice choice)
{
    m_encodingChoice = choice;
    // The open log is read again in the encoding chosen (or detected again, for Auto), as
    // soon as a load under way has ended.
    if (nativePath().empty() || AgeStamp(nativePath()) == -1)
        return;
    if (!deferWhileOpening([this] { Refresh1Click(); }))
        Refresh1Click();
}

} // namespace tlg
