// The colouring run that the watcher starts one tick after a load: the staging text goes into
// the hidden view with the labels and gates of this moment, and that view then takes the place
// of the shown one. Handlers of the main window.

#include "app/fileops.h"
#include "app/mainwindow.h"
#include "format/colourrules.h"
#include "format/formateditor.h"
#include "log/logview.h"
#include "log/textload.h"
#include "log/watchstate.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QToolButton>

namespace tlg {

void MainWindow::ColorLogText()
{
    const QColor silver(192, 192, 192);
    m_view1->setBackgroundColour(silver);
    m_view3->setBackgroundColour(silver);
    setStatusText(1, QStringLiteral("Formating Text..."));
    const bool caretAtTop = m_caretPixelY == 0;

    // The rules are fixed for this pass: later edits of the labels or gates show at the next.
    auto rules = std::make_shared<ColourRules>();
    rules->infoLabels = m_formatEditor->infoLabels();
    rules->errorLabels = m_formatEditor->errorLabels();
    rules->showInfo = m_showInfoButton->isChecked();
    rules->showErrors = m_showErrorsButton->isChecked();

    // The view colours the lines it paints, so the pass itself costs the same for any size.
    LogView* target = (m_watch.ViewToggle % 2 != 0) ? m_view3 : m_view1;
    LogView* other = target == m_view3 ? m_view1 : m_view3;
    target->setDocument(m_stagingText, std::move(rules));
    // From the first pass on, text that no label colours is black.
    m_view1->setBaseTextColour(Qt::black);
    m_view3->setBaseTextColour(Qt::black);
    ++m_watch.ViewToggle;
    ShowColoredView(target, other, caretAtTop);
    m_view1->setBackgroundColour(Qt::white);
    m_view3->setBackgroundColour(Qt::white);
}

void MainWindow::ShowColoredView(LogView* coloured, LogView* other, bool caretAtTop)
{
    // The reader's line and top line in the view they have been reading.
    m_watch.SavedCaretLine = other->caretLine();
    const LineNumber readerTop = other->firstVisibleLine();
    other->setDocument(coloured->document(), coloured->colourRules());
    coloured->show();
    coloured->raise();
    // The swap keeps what the reader sees in place; a caret on the top line keeps that line on
    // top.
    coloured->setFirstVisibleLine(caretAtTop ? m_watch.SavedCaretLine : readerTop);
    ScrollToLine(coloured, m_watch.SavedCaretLine);
    other->hide();
}

void MainWindow::CheckBox6Click()
{
    // Off greys the gates and leaves them as they are; the watcher then shows plain text.
    const bool on = m_colourBox->isChecked();
    m_showErrorsButton->setEnabled(on);
    m_showInfoButton->setEnabled(on);
    if (on) {
        m_showErrorsButton->setChecked(true);
        m_showInfoButton->setChecked(true);
    }
}

void MainWindow::ApplyFormatNow()
{
    const std::string path = nativePath();
    if (m_opening || AgeStamp(path) == -1)
        return;
    m_stagingText = readAside([path](std::atomic<std::int64_t>& done) { return LoadPlainText(path, &done); },
                              FileSizeOf(path));
    m_view1->clear();
    m_watch.StoredAge = 0;
    m_watch.StoredSize = 0;
    MarkColoured(m_watch); // nothing is due until the watcher has loaded the file again
    m_topStrip->setAccessibleName(m_currentPath);
}

} // namespace tlg
