#include "navigate/finder.h"

#include "core/beside.h"
#include "core/errors.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "document/encoding.h"
#include "view/logview.h"
#include "search/regexsearch.h"
#include "search/textsearch.h"
#include "navigate/finddialog.h"

#include <QLineEdit>
#include <QShortcut>
#include <QTimer>

namespace tlg {

namespace {

// Texts up to this size are searched at once; a larger one is searched beside the GUI thread,
// so that the window keeps painting.
constexpr std::size_t kSearchAtOnce = 16u << 20;

} // namespace

Finder::Finder(LogView* view, QWidget* window, StatusPanels* status)
    : QObject(window), m_status(status)
{
    m_findDialog = new FindDialog(window);
    connect(new QShortcut(QKeySequence::Find, window), &QShortcut::activated, this, [this] { showFindDialog(); });
    connect(new QShortcut(QKeySequence::FindNext, window), &QShortcut::activated, this,
            guarded(window, [this] { findNext(); }));
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), window), &QShortcut::activated, this,
            guarded(window, [this] { findPrevious(); }));
    connect(m_findDialog, &FindDialog::findNext, this, guarded(window, [this] { findNextAsked(); }));
    m_progress = new QTimer(this);
    m_progress->setInterval(200);
    connect(m_progress, &QTimer::timeout, this, [this] {
        if (!m_cancel || !m_looked || m_sinceStart.elapsed() < 500 || !m_status)
            return;
        const std::int64_t percent = m_toLook > 0 ? std::min<std::int64_t>(100, 100 * m_looked->load() / m_toLook) : 0;
        m_status->setText(0, QStringLiteral("Searching... %1% (Esc stops)").arg(percent));
    });
    setView(view);
    // An empty find text takes the marks away.
    if (auto* text = m_findDialog->findChild<QLineEdit*>(QStringLiteral("FindText"))) {
        connect(text, &QLineEdit::textChanged, this, [this](const QString& now) {
            if (now.isEmpty())
                clearMarks();
        });
    }
}

void Finder::setView(LogView* view)
{
    if (m_view == view && m_viewKeys)
        return;
    cancelSearch();
    // The view left keeps its marks: each log shows what was last found in it.
    disconnect(m_viewKeys);
    m_view = view;
    if (!view)
        return;
    // Esc in the view stops a search under way.
    m_viewKeys = connect(view, &LogView::keyPressed, this, [this](int key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_Escape && m_cancel) {
            cancelSearch();
            if (m_status)
                m_status->setText(0, QStringLiteral("Search stopped"));
        }
    });
}

void Finder::findNextAsked()
{
    if (!m_findDialog->allLogs()) {
        findNext();
        return;
    }
    // The view's search under way would move its selection after the list is asked for.
    cancelSearch();
    const QString findText = m_findDialog->findText();
    if (findText.isEmpty())
        return;
    m_findDialog->remember(findText);
    emit findAllRequested();
}

void Finder::showFindDialog()
{
    m_findDialog->show();
    m_findDialog->raise();
    m_findDialog->activateWindow();
}

void Finder::findNext()
{
    find(true);
}

void Finder::findPrevious()
{
    find(false);
}

void Finder::clearMarks()
{
    if (m_view)
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
    m_progress->stop();
}

namespace {

// Whether [start, end) of the text stands as a whole word.
bool standsAlone(const LineSource& text, ByteOffset start, ByteOffset end)
{
    const TextSlice before = text.slice(start - 1, start);
    const TextSlice after = text.slice(end, end + 1);
    return (start == 0 || before.empty() || !WordByte(before[0])) && (after.empty() || !WordByte(after[0]));
}

} // namespace

void Finder::find(bool forward)
{
    // A press while a search runs starts it again from the selection as it is now.
    cancelSearch();
    const QString findText = m_findDialog->findText();
    if (findText.isEmpty()) {
        clearMarks();
        return;
    }
    m_findDialog->remember(findText);
    if (!m_view)
        return;
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
    const bool matchCase = m_findDialog->matchCase();
    const bool wholeWord = m_findDialog->wholeWord();
    std::shared_ptr<const RegexSearch> expression;
    if (m_findDialog->regex()) {
        try {
            expression = std::make_shared<const RegexSearch>(*encoded, matchCase, view->encoding());
        } catch (const Failure& failure) {
            if (m_status)
                m_status->setText(0, QStringLiteral("Invalid pattern: ") + QString::fromUtf8(failure.what()));
            return;
        }
    }
    const TextSearch search = TextSearch::forLog(*encoded, view->encoding(), matchCase);
    // The lines in sight mark the plain text; an expression marks nothing.
    view->setMarkedText(expression ? std::string() : *encoded);
    const LinesPtr document = view->document();
    // Forwards: after a non-empty selection, else from the caret; an occurrence at the caret
    // counts. Backwards: one that starts before the selection (or the caret).
    const ByteOffset from = forward && view->selectionLength() > 0
                                ? view->selectionStart() + view->selectionLength()
                                : (forward ? view->caretOffset() : view->selectionStart());
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto looked = std::make_shared<std::atomic<std::int64_t>>(0);
    using Match = RegexSearch::Match;
    auto run = [document, search, expression, wholeWord, from, forward, cancel, looked]() -> Match {
        if (expression)
            return forward ? expression->findFrom(*document, from, cancel.get(), looked.get())
                           : expression->findBefore(*document, from, cancel.get(), looked.get());
        const ByteOffset length = static_cast<ByteOffset>(search.pattern.size());
        ByteOffset found = forward ? FindOccurrenceFrom(search, *document, from, cancel.get(), looked.get())
                                   : FindOccurrenceBefore(search, *document, from, cancel.get(), looked.get());
        // A whole word: the occurrences inside words are passed by.
        while (wholeWord && found >= 0 && !standsAlone(*document, found, found + length))
            found = forward ? FindOccurrenceFrom(search, *document, found + 1, cancel.get())
                            : FindOccurrenceBefore(search, *document, found, cancel.get());
        return {found, found + length};
    };
    auto show = [this, view = QPointer<LogView>(view), document, notFound](Match found) {
        // The view has since gone or been given another text, or the search was stopped:
        // nothing changes.
        if (!view || view->document() != document || found.first == kSearchCancelled)
            return;
        if (m_status && m_status->text(0).startsWith(QStringLiteral("Searching...")))
            m_status->setText(0, QString());
        if (found.first < 0) {
            notFound();
            view->viewport()->update();
            return;
        }
        // A word that an earlier find was not found no longer stands.
        if (m_status && m_status->text(0).startsWith(QStringLiteral("Not found: ")))
            m_status->setText(0, QString());
        view->setFocus();
        view->setSelection(found.first.value(), (found.second - found.first).value());
        view->scrollCaretIntoView();
        view->viewport()->update();
    };
    if (document->size() <= static_cast<ByteOffset>(kSearchAtOnce)) {
        show(run());
        return;
    }
    // The result comes to the finder, a child of the window: one that comes after the window
    // is gone goes nowhere, and one whose search was stopped or started again (its stop flag
    // no longer the finder's) is dropped. Esc in the view stops it.
    m_cancel = cancel;
    m_looked = looked;
    m_toLook = (forward ? document->size() - from : from).value();
    m_sinceStart.start();
    m_progress->start();
    auto failure = std::make_shared<std::string>(); // why the search could not end
    RunBeside(
        this, Executor::Priority::User,
        [run, failure]() -> Match {
            try {
                return run();
            } catch (const std::exception& failed) {
                *failure = failed.what();
                return {kSearchCancelled, kSearchCancelled};
            }
        },
        [this, cancel, failure, show](Match found) {
            if (cancel != m_cancel)
                return;
            m_cancel.reset();
            m_progress->stop();
            if (!failure->empty()) {
                if (m_status)
                    m_status->setText(0, QStringLiteral("Search failed: ") + QString::fromUtf8(*failure));
                return;
            }
            show(found);
        });
    if (m_status)
        m_status->setText(0, QStringLiteral("Searching... (Esc stops)"));
}

} // namespace tlg
