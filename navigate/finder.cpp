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

Finder::~Finder()
{
    // A search under way stops at its next chunk, so that quitting never waits for it.
    cancelSearch();
}

void Finder::cancelSearch()
{
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
    if (m_watcher) {
        m_watcher->disconnect(this);
        m_watcher->deleteLater();
        m_watcher = nullptr;
    }
}

void Finder::find(bool forward)
{
    // A press while a search runs starts it again from the selection as it is now.
    cancelSearch();
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
    const TextSearch search = TextSearch::forLog(*encoded, view->encoding());
    view->setMarkedText(*encoded);
    const LinesPtr document = view->document();
    // Forwards: after a non-empty selection, else from the caret; an occurrence at the caret
    // counts. Backwards: one that starts before the selection (or the caret).
    const ByteOffset from = forward && view->selectionLength() > 0
                                ? view->selectionStart() + view->selectionLength()
                                : (forward ? view->caretOffset() : view->selectionStart());
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto run = [document, search, from, forward, cancel]() -> ByteOffset {
        return forward ? FindOccurrenceFrom(search, *document, from, cancel.get())
                       : FindOccurrenceBefore(search, *document, from, cancel.get());
    };
    auto show = [this, view, document, notFound, length = static_cast<ByteOffset>(search.pattern.size())](ByteOffset found) {
        // The view has since been given another text, or the search was stopped: nothing
        // changes.
        if (view->document() != document || found == kSearchCancelled)
            return;
        if (found < 0) {
            notFound();
            view->viewport()->update();
            return;
        }
        // A word that an earlier find was not found no longer stands.
        if (m_status && m_status->text(0).startsWith(QStringLiteral("Not found: ")))
            m_status->setText(0, QString());
        view->setFocus();
        view->setSelection(found.value(), length.value());
        view->scrollCaretIntoView();
        view->viewport()->update();
    };
    if (document->size() <= static_cast<ByteOffset>(kSearchAtOnce)) {
        show(run());
        return;
    }
    // The watcher belongs to the finder, a child of the window: a result that comes after the
    // window is gone goes nowhere.
    m_cancel = cancel;
    m_watcher = new QFutureWatcher<ByteOffset>(this);
    connect(m_watcher, &QFutureWatcher<ByteOffset>::finished, this, [this, show] {
        const ByteOffset found = m_watcher->result();
        m_watcher->deleteLater();
        m_watcher = nullptr;
        m_cancel.reset();
        show(found);
    });
    m_watcher->setFuture(QtConcurrent::run(run));
}

} // namespace tlg
