#pragma once

// A log read from a pipe (standard input): its bytes are kept in a spool file as they come, on
// a thread of the executor's own, and the text grows by them as work that can wait, so that a
// flood is kept first and shown as the processor allows. The first bytes decide the encoding,
// as a file's do. A pipe is never read again whole: Reload shows again what it gave, and the
// Encoding menu reads its spool again from the start.
//
// Lives on the GUI thread and uses Qt Core only.

#include "core/fileops.h"
#include "document/pipespool.h"
#include "source/log.h"
#include "source/logoperations.h"
#include "source/onetextlog.h"
#include "source/textoperations.h"

#include <memory>

namespace tlg {

class PipeLog : public OneTextLog {
    Q_OBJECT

public:
    // Reads `input`; start() makes the spool.
    PipeLog(FileHandle input, PipeSpool::Options options = {}, QObject* parent = nullptr);
    ~PipeLog() override;

    LinesPtr lines() const override { return m_text.document; }
    const DocumentPtr& document() const { return m_text.document; }
    Encoding encoding() const override { return m_text.encoding; }
    UnicodeKind unicodeKind() const override { return m_text.kind; }
    EncodingChoice encodingChoice() const override { return m_encodingChoice; }
    // What the pipe gave is read again from its spool in the encoding chosen.
    void chooseEncoding(const EncodingChoice& choice) override;

    // "standard input".
    QString name() const override;
    QString displayName() const override { return name(); }

    LogAbilities abilities() const override;
    // Makes the spool: the text is empty until bytes come; a spool that cannot be made says why
    // in the error box and opened(false) follows.
    void start() override;
    bool busy() const override { return m_operations->busy(); }
    // What the pipe gave is shown again, coloured as now.
    void reload() override;
    // The spool (null before start), for tests.
    const PipeSpool* spool() const { return m_spool.get(); }


    // The bytes as the pipe gave them, as far as they came by then (its text may show them
    // converted).
    std::optional<Saving> saving() const override;

private:
    // The text grown to what the spool holds (once more after the growth under way, when one
    // runs).
    void grow();

    FileHandle m_input;
    PipeSpool::Options m_options;
    HeldText m_text;
    EncodingChoice m_encodingChoice;
    std::shared_ptr<PipeSpool> m_spool; // shared with the growth under way
    bool m_growing = false;
    bool m_growAgain = false; // bytes were told of while a growth ran
    bool m_ended = false;     // its end was told
    bool m_fromStart = false; // the next growth reads the spool from its start
    LogOperations* m_operations;
};

} // namespace tlg
