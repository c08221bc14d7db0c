#include "navigate/finder.h"

#include "core/faststrings.h"
#include "core/messages.h"
#include "log/encoding.h"
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

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

// The first occurrence (from 1) at or after `start`, or 0. Outside Windows-1252 the case of
// a to z only is ignored: the code page's upper-case table would confuse other bytes (the
// lead and continuation bytes of UTF-8), so its matches are checked again.
std::int64_t findFrom(const std::string& pattern, std::string_view text, bool asciiCaseOnly,
                      std::int64_t start)
{
    for (;;) {
        const std::int64_t position = FindForward(pattern, text, true, start);
        if (position == 0 || !asciiCaseOnly ||
            sameIgnoringAsciiCase(text.substr(static_cast<std::size_t>(position - 1), pattern.size()), pattern))
            return position;
        start = position + 1;
    }
}

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
    // The find text in the log's encoding: a text that cannot occur in it finds nothing.
    const std::optional<std::string> encoded =
        EncodeForLog(m_findDialog->findText().toStdU16String(), view->encoding());
    if (!encoded)
        return;
    const std::string pattern = *encoded;
    const bool asciiCaseOnly = view->encoding() != Encoding::Windows1252;
    const DocumentPtr document = view->document();
    // After a non-empty selection, else from the caret; an occurrence at the caret counts.
    const ByteOffset from = view->selectionLength() > 0
                                ? view->selectionStart() + view->selectionLength()
                                : view->caretOffset();
    auto search = [document, pattern, from, asciiCaseOnly]() -> ByteOffset {
        const std::int64_t position = findFrom(pattern, document->text(), asciiCaseOnly, from + 1);
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
