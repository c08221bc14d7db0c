#include "source/pipetext.h"

#include <unistd.h>

namespace tlg {

HeldText GrowPipeText(const PipeSpool& spool, const HeldText& held, const EncodingChoice& choice, bool& detected,
                      std::atomic<std::int64_t>& done, const std::atomic<bool>* stop)
{
    detected = false;
    HeldText text = held;
    if (held.document && held.document->paged()) {
        text.document = held.document->grown(&done, stop);
        return text;
    }
    FileHandle file = spool.reader();
    if (!file.valid())
        throw Failure(std::string("Cannot read file ") + kStandardInputName);
    std::string head(kDetectionSample, '\0');
    const ssize_t got = ::pread(file.fd(), head.data(), head.size(), 0);
    if (got < 0)
        throw Failure(std::string("Cannot read file ") + kStandardInputName);
    if (got == 0)
        return text; // nothing came yet
    head.resize(static_cast<std::size_t>(got));
    const Detection found = DetectEncoding(head);
    text.encoding = choice.automatic ? found.encoding : choice.forced;
    Transcoding how = Transcoding::None;
    text.kind = UnicodeKind::SingleByte;
    if (text.encoding == Encoding::Utf16Le || text.encoding == Encoding::Utf16Be) {
        text.kind = UnicodeKind::Utf16;
        how = text.encoding == Encoding::Utf16Be ? Transcoding::Utf16Be : Transcoding::Utf16Le;
    } else if (found.strayNuls) {
        // Only NULs among the first bytes are known before the text is shown; a NUL further
        // on is painted as the control byte it is.
        text.kind = UnicodeKind::NulBytes;
        how = Transcoding::DropNuls;
    }
    text.document = LogDocument::fromFile(std::move(file), kStandardInputName, {spool.device(), spool.inode(), true},
                                          &done, PagingSizes{}, how, stop);
    text.check = {};
    detected = true;
    return text;
}

} // namespace tlg
