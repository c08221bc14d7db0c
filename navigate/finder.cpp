#include "navigate/finder.h"

#include "core/messages.h"
#include "core/statuspanels.h"
#include "document/encoding.h"
#include "view/logview.h"
#include "search/textsearch.h"
#include "navigate/finddialog.h"

#include <QFutureWatcher>
#include <QLineEdit>
#include <QShortcut>
#include <QtConcurrent/QtConcurrentRun>

namespace tlg {

namespace {

// Texts up to this size are searched at once; a larger one is searched beside the GUI thread,
// so that the window keeps painting.
constexpr std::size_t kSearchAtOnce = 16u << 20;

} // namespace

Finder::Finder(LogView* view, QWidget* window, StatusPanels* status)
    : QObject(window), m_view(view), m_status(status)
{
    m_findDialog = new FindDialog(window);
    connect(new QShortcut(QKeySequence::Find, window), &QShortcut::activated, this, [this] { ToolButton15Click(); });
    connect(new QShortcut(QKeySequence::FindNext, window), &QShortcut::activated, this,
            guarded(window, [this] { FindDialog1Find(); }));
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), window), &QShortcut::activated, this,
            guarded(window, [this] { FindPrevious(); }));
    connect(m_findDialog, &FindDialog::findNext, this, guarded(window, [this] { FindDialog1Find(); }));
    // An empty find text takes the marks away.
    if (auto* text = m_findDialog->findChild<QLineEdit*>(QStringLiteral("FindText"))) {
        connect(text, &QLineEdit::textChanged, this, [this](const QString& now) {
            if (now.isEmpty())
                clearMarks();
        });
    }
}

void Finder::ToolButton15Click()
{
    m_findDialog->show();
    m_findDialog->raise();
    m_findDialog->activateWindow();
}

void Finder::FindDialog1Find()
{
    find(true);
}

void Finder::FindPrevious()
{
    find(false);
}

void Finder::clearMarks()
{
    m_view->setMarkedText({});
}

void Finder::find(bool forward)
{
    if (m_searching)
        return; // one search at a time; the next press continues from its result
    const QString findText = m_findDialog->findText();
    if (findText.isEmpty()) {
        clearMarks();
        return;
    }
    LogView* view = m_view;
    auto notFound = [this, findText] {
        if (m_status)
            m_status->setText(0, QStringLiteral("Not found: \"%1\"").arg(findText));
    };
    // The find text in the log's encoding: a text that cannot occur in it finds nothing.
    const std::optional<std::string> encoded = EncodeForLog(findText.toStdU16String(), view->encoding());
    if (!encoded) {
        clearMarks();
        notFound();
        return;
    }
    const TextSearch search{*encoded, true, view->encoding() != Encoding::Windows1252};
    view->setMarkedText(*encoded);
    const DocumentPtr document = view->document();
    // Forwards: after a non-empty selection, else from the caret; an occurrence at the caret
    // counts. Backwards: one that starts before the selection (or the caret).
    const ByteOffset from = forward && view->selectionLength() > 0
                                ? view->selectionStart() + view->selectionLength()
                                : (forward ? view->caretOffset() : view->selectionStart());
    auto run = [document, search, from, forward]() -> ByteOffset {
        return forward ? FindOccurrenceFrom(search, *document, from) : FindOccurrenceBefore(search, *document, from);
    };
    auto show = [this, view, document, notFound, length = static_cast<ByteOffset>(search.pattern.size())](ByteOffset found) {
        // The view has since been given another text: nothing changes.
        if (view->document() != document)
            return;
        if (found < 0) {
            notFound();
            view->viewport()->update();
            return;
        }
        view->setFocus();
        view->setSelection(found, length);
        view->scrollCaretIntoView();
        view->viewport()->update();
    };
    if (document->size() <= static_cast<ByteOffset>(kSearchAtOnce)) {
        show(run());
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
    watcher->setFuture(QtConcurrent::run(run));
}

} // namespace tlg
