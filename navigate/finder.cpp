#include "navigate/finder.h"

#include "core/cp1252.h"
#include "core/faststrings.h"
#include "core/messages.h"
#include "log/logfollower.h"
#include "log/logview.h"
#include "navigate/finddialog.h"

#include <QFutureWatcher>
#include <QShortcut>
#include <QtConcurrent/QtConcurrentRun>

namespace tlg {

namespace {

// Texts up to this size are searched at once; a larger one is searched beside the GUI thread,
// so that the window keeps painting.
constexpr std::size_t kSearchAtOnce = 16u << 20;

} // namespace

Finder::Finder(LogFollower* follower, QWidget* window)
    : QObject(window), m_follower(follower)
{
    m_findDialog = new FindDialog(window);
    connect(new QShortcut(QKeySequence::Find, window), &QShortcut::activated, this, [this] { ToolButton15Click(); });
    connect(new QShortcut(QKeySequence::FindNext, window), &QShortcut::activated, this,
            guarded(window, [this] { FindDialog1Find(); }));
    connect(m_findDialog, &FindDialog::findNext, this, guarded(window, [this] { FindDialog1Find(); }));
}

void Finder::ToolButton15Click()
{
    m_findDialog->show();
    m_findDialog->raise();
    m_findDialog->activateWindow();
}

void Finder::FindDialog1Find()
{
    if (m_searching)
        return; // one search at a time; the next press continues from its result
    LogView* view = m_follower->shownView();
    const std::string pattern = encodeCp1252(m_findDialog->findText().toStdU16String());
    const DocumentPtr document = view->document();
    // After a non-empty selection, else from the caret; an occurrence at the caret counts.
    const ByteOffset from = view->selectionLength() > 0
                                ? view->selectionStart() + view->selectionLength()
                                : view->caretOffset();
    auto search = [document, pattern, from]() -> ByteOffset {
        const std::int64_t position = FindForward(pattern, document->text(), true, from + 1);
        return position == 0 ? -1 : position - 1;
    };
    auto show = [this, view, document, length = static_cast<ByteOffset>(pattern.size())](ByteOffset found) {
        // Nothing found, or the view has since been given another text: nothing changes.
        if (found < 0 || view->document() != document)
            return;
        view->setFocus();
        view->setSelection(found, length);
        view->scrollCaretIntoView();
        view->viewport()->update();
    };
    if (document->text().size() <= kSearchAtOnce) {
        show(search());
        return;
    }
    // The watcher belongs to the finder, a child of the window: a result that comes after the
    // window is gone goes nowhere.
    m_searching = true;
    auto* watcher = new QFutureWatcher<ByteOffset>(this);
    connect(watcher, &QFutureWatcher<ByteOffset>::finished, this, [this, watcher, show] {
        m_searching = false;
        show(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(search));
}

} // namespace tlg
