#include "source/logtimes.h"

#include "core/beside.h"

namespace tlg {

struct LogTimes::Job {
    std::atomic<bool> stop{false};
    LinesPtr text;
    TimeIndexPtr earlier; // grown from, when of the same form
    TimeForm form = TimeForm::None;
    std::int64_t modified = 0;
    TimeIndexPtr result;
};

LogTimes::LogTimes(QObject* parent) : QObject(parent) {}

LogTimes::~LogTimes()
{
    if (m_job)
        m_job->stop = true;
}

void LogTimes::choose(std::optional<TimeForm> form)
{
    if (form == m_choice)
        return;
    m_choice = form;
    if (m_job)
        m_job->stop = true;
    m_job.reset();
    m_index.reset();
    m_timeless.reset();
    m_form = TimeForm::None;
    update();
    emit indexChanged();
}

void LogTimes::setText(LinesPtr text, std::int64_t modified)
{
    m_text = std::move(text);
    m_modified = modified;
    update();
}

void LogTimes::update()
{
    if (m_job || !m_text || (m_index && m_index->lines() == m_text) || m_text == m_timeless)
        return;
    if (m_choice == TimeForm::None)
        return;
    auto job = std::make_shared<Job>();
    job->text = m_text;
    job->modified = m_modified;
    job->form = m_choice.value_or(m_form);
    // A log that only grew costs its new lines; another is looked at afresh.
    if (m_index && m_text->grewFrom(*m_index->lines()))
        job->earlier = m_index;
    const bool detect = !m_choice && !job->earlier;
    m_job = job;
    // The stamps are read as work that can wait: reading a large log's takes a core for a
    // second or more, and at its open the filter stack's pass, which the view waits for, should
    // have the processors first. Going to a time waits a little longer only while they are busy.
    RunBeside(
        this, Executor::Priority::Background,
        [job, detect] {
            if (detect)
                job->form = DetectTimeForm(*job->text);
            if (job->form == TimeForm::None)
                return;
            job->result = job->earlier ? job->earlier->grownTo(job->text, &job->stop)
                                       : TimeIndex::build(job->text, job->form, StampContext(job->modified), &job->stop);
        },
        [this, job] {
            if (job != m_job)
                return;
            m_job.reset();
            if (job->result) {
                m_index = job->result;
                m_form = job->form;
            } else if (!job->stop) {
                m_timeless = job->text; // not looked at again until the text changes
            }
            update(); // the text may have changed meanwhile
            if (job->result || !m_job)
                emit indexChanged(); // also when the text turned out to hold no times
        });
}

} // namespace tlg
