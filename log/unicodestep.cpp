// 16-bit text in the load buffer: detection after each open and manual reload, and the
// conversion that rewrites the buffer. Handlers of the main window.

#include "app/mainwindow.h"
#include "log/textload.h"
#include "log/unicode.h"

#include <QToolButton>

namespace tlg {

bool MainWindow::DetectUnicode()
{
    m_unicodeKind = UnicodeKind::SingleByte;
    const std::string raw = ReadDroppingNuls(nativePath());
    LoadIntoBuffer();
    m_unicodeKind = ClassifyUnicode(m_loadBuffer->text(), raw);
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
