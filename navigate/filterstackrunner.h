#pragma once

// A log's filter stack at work: its rows as the reader typed them, matched against the log's
// text beside the GUI thread, and the lines they keep. Every row is matched in one pass, which
// keeps each row's matches, so switching a row on or off or changing its kind only combines
// them again. The lines shown come first: the rows that the plain rows make needless on a line
// are matched there by a second pass, which a switch of the rows waits for. A text that grew
// costs its new lines. While a pass runs, the lines of the last pass stay what is shown, so
// their count never passes through a partial value; a change of the rows cancels the pass
// under way and starts the next.

#include "document/encoding.h"
#include "document/keptlines.h"
#include "search/filterstack.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QTimer;

namespace tlg {

// One row of the stack as the reader sees it.
struct StackRow {
    QString pattern;
    bool regex = false;
    bool matchCase = false;
    FilterRow::Kind kind = FilterRow::Hide;
    bool on = true;

    friend bool operator==(const StackRow&, const StackRow&) = default;
};

class FilterStackRunner : public QObject {
    Q_OBJECT

public:
    explicit FilterStackRunner(QObject* parent = nullptr);
    ~FilterStackRunner() override;

    const std::vector<StackRow>& rows() const { return m_rows; }
    void setRows(std::vector<StackRow> rows);
    // Some row is on and can be matched: the log shows only what the stack keeps.
    bool active() const;
    // What to show of `text`, read in `encoding`: the text itself while the stack is not
    // active, else the lines kept by the last pass (of this text, or of an earlier one while
    // the pass of this one runs).
    LinesPtr shownOf(const LinesPtr& text, Encoding encoding);
    // Why a row cannot be matched ("" for a row that can).
    QString rowError(std::size_t row) const;
    // A pass runs.
    bool running() const { return m_job != nullptr; }
    // "N of M lines shown", or "" while the stack is not active.
    QString shownText() const;

signals:
    // A pass or a change of the rows gave new lines to show.
    void shownChanged();
    // Percent of a pass done, from half a second on; -1 once it ended.
    void progress(int percent);
    // Which rows cannot be matched changed.
    void errorsChanged();

private:
    struct Job;
    // Makes the rows ready to match in the text's encoding, when their patterns changed.
    void compile();
    // Starts the pass the text and the rows call for, unless one runs.
    void update();
    void finish(const std::shared_ptr<Job>& job);
    void cancel();

    std::vector<StackRow> m_rows;
    std::vector<FilterRow> m_matched;   // m_rows as the stack matches them, in the log's encoding
    std::vector<QString> m_errors;
    std::shared_ptr<const FilterStack> m_stack;
    Encoding m_encoding = Encoding::Windows1252;
    LinesPtr m_text;                 // the text to show
    FilterMatchesPtr m_matches;      // of m_stack, over some text
    KeptLinesPtr m_shown;            // what m_matches keeps with the rows as they are
    std::vector<FilterRow> m_shownRows; // the rows m_shown was combined with
    LineCount m_shownTotal = 0;      // the lines of the text m_shown keeps some of
    std::shared_ptr<Job> m_job;
    QTimer* m_progressTimer = nullptr;
    QElapsedTimer m_sinceStart;
};

} // namespace tlg
