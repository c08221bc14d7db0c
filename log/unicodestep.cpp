// 16-bit text in the load buffer: detection after each open and manual reload, and the
// conversion that rewrites the buffer. Handlers of the open log.

#include "log/logfollower.h"

#include "core/fileops.h"
#include "log/textload.h"
#include "log/unicode.h"

#include <QAbstractButton>

namespace tlg {

bool LogFollower::DetectUnicode()
{
    // Every caller has just loaded the file into the buffer: its bytes are classed as they
    // are, so a log that grows meanwhile is never taken for 16-bit text, and nothing is read
    // twice.
    m_unicodeKind = ClassifyLoadedText(m_loadBuffer->text(), m_loadBuffer->holdsNul());
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
    }
    setStatusText(1, QStringLiteral("Unicode conversion Finished"));
    pumpEvents();
}

void LogFollower::UnicodeStep()
{
    if (DetectUnicode() || m_controls.unicodeButton->isChecked()) {
        m_controls.unicodeButton->setChecked(true);
        ConvertUnicode();
    }
}

} // namespace tlg
