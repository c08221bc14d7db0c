// 16-bit text in the load buffer: detection after each open and manual reload, and the
// conversion that rewrites the buffer. Handlers of the main window.

#include "app/mainwindow.h"
#include "log/textload.h"
#include "log/unicode.h"

#include <QToolButton>

namespace tlg {

bool MainWindow::DetectUnicode()
{
    // One read: the NUL-free text comes from the same bytes, so a log that grows meanwhile
    // is never taken for 16-bit text.
    m_unicodeKind = UnicodeKind::SingleByte;
    LoadIntoBuffer();
    m_unicodeKind = ClassifyLoadedText(m_loadBuffer->text());
    return m_unicodeKind != UnicodeKind::SingleByte;
}

void MainWindow::ConvertUnicode()
{
    setStatusText(1, QStringLiteral("Converting Unicode"));
    pumpEvents();
    m_loadBuffer = LogDocument::empty();
    switch (m_unicodeKind) {
    case UnicodeKind::SingleByte:
        LoadIntoBuffer();
        break;
    case UnicodeKind::NulBytes:
        m_loadBuffer = LogDocument::fromBytes(ReadDroppingNuls(nativePath()));
        break;
    case UnicodeKind::ByteOrderMark:
        m_loadBuffer = LogDocument::fromBytes(ReadAfterMark(nativePath()));
        break;
    }
    setStatusText(1, QStringLiteral("Unicode conversion Finished"));
    pumpEvents();
}

void MainWindow::UnicodeStep()
{
    if (DetectUnicode() || m_unicodeButton->isChecked()) {
        m_unicodeButton->setChecked(true);
        ConvertUnicode();
    }
}

} // namespace tlg
