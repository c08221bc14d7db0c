#include "source/textoperations.h"

#include "core/fileops.h"
#include "document/textload.h"

#include <unistd.h>

#include <algorithm>
#include <functional>

namespace tlg {

FileSample SampleOf(const std::string& path)
{
    return {AgeStamp(path), FileSizeOf(path), StampOf(path)};
}

namespace {

// How the file of a text of this kind is read.
Transcoding TranscodingOf(UnicodeKind kind, Encoding encoding)
{
    switch (kind) {
    case UnicodeKind::SingleByte:
        return Transcoding::None;
    case UnicodeKind::NulBytes:
        return Transcoding::DropNuls;
    case UnicodeKind::ByteOrderMark:
        return Transcoding::DropNulsAfterMark;
    case UnicodeKind::Utf16:
        return encoding == Encoding::Utf16Be ? Transcoding::Utf16Be : Transcoding::Utf16Le;
    }
    return Transcoding::None;
}

// Whether the first bytes alone show that NULs must be dropped: a NUL between two bytes above
// 0x20 lies between the first and the last of the whole text, whatever follows.
bool HeadShowsNulBytes(std::string_view head)
{
    auto visible = [](char c) { return static_cast<unsigned char>(c) > 0x20; };
    const auto first = std::find_if(head.begin(), head.end(), visible);
    const auto last = std::find_if(head.rbegin(), head.rend(), visible);
    if (first == head.end())
        return false;
    return std::find(first, last.base(), '\0') != last.base();
}

} // namespace

HeldText OpenText(const std::string& path, const EncodingChoice& choice, std::atomic<std::int64_t>& done,
                  const std::atomic<bool>* stop, const std::function<void(const HeldText&)>& partial)
{
    HeldText text;
    // The first bytes decide the encoding, and mostly how the file must be read, so that it is
    // read once.
    // (The text's first bytes: a compressed file's are those it decompresses into.)
    const std::string head = TextHeadOf(path, kDetectionSample);
    const Encoding found = DetectEncoding(head).encoding;
    text.encoding = choice.automatic ? found : choice.forced;
    if (text.encoding == Encoding::Utf16Le || text.encoding == Encoding::Utf16Be)
        text.kind = UnicodeKind::Utf16;
    else if (HeadShowsNulBytes(head))
        text.kind = UnicodeKind::NulBytes;
    // A compressed file's first lines are told as they come, in the encoding found.
    PartialDocuments told;
    if (partial) {
        told = [&partial, &text](const DocumentPtr& document) {
            HeldText first = text;
            first.document = document;
            if (document->transcoding() == Transcoding::None)
                first.kind = UnicodeKind::SingleByte;
            partial(first);
        };
    }
    if (text.kind != UnicodeKind::SingleByte) {
        text.document = LoadText(path, TranscodingOf(text.kind, text.encoding), &done, stop, told);
        // 16-bit text inside a compressed file is decoded; other text is shown as it decompresses.
        if (text.document->compressed() && text.document->transcoding() == Transcoding::None)
            text.kind = UnicodeKind::SingleByte;
        return text;
    }
    text.document = LoadPlainText(path, &done, stop, told);
    if (text.document->compressed())
        return text; // shown as the bytes it decompresses into
    // A NUL further on is known from the index; a text without one needs no pass.
    text.kind = ClassifyLoadedText(*text.document);
    if (text.kind != UnicodeKind::SingleByte) {
        done = 0;
        text.document = LoadText(path, TranscodingOf(text.kind, text.encoding), &done, stop);
    }
    return text;
}

HeldText FollowText(const std::string& path, const HeldText& held, bool convert, bool compare, bool differs,
                    bool& wholeRead, std::atomic<std::int64_t>& done, const std::atomic<bool>* stop)
{
    HeldText text = held;
    // With "View Unicode" up the file is read as its bytes are; down, by the kind last
    // detected. Read as before, it costs only the new bytes of a file that grew.
    const Transcoding wanted = convert ? TranscodingOf(held.kind, held.encoding) : Transcoding::None;
    if (wanted != held.document->transcoding()) {
        text.document = LoadText(path, wanted, &done, stop);
        text.check = {};
        wholeRead = true;
        return text;
    }
    if (!compare) {
        // A change that was notified compares nothing, so that a log written in a burst costs
        // no more than the bytes it gained; the next regular look compares it all.
        text.document = LoadTextAfter(path, wanted, held.document, &done, stop);
        text.check.unchecked = static_cast<std::int64_t>(text.document->size());
    } else {
        text.document = LoadFollowedText(path, held.document, text.check, differs, &done, kTextCheckBudget, stop);
    }
    wholeRead = !text.document->grewFrom(*held.document);
    return text;
}

HeldText ReadAgain(const std::string& path, const HeldText& held, bool convert, std::atomic<std::int64_t>& done,
                   const std::atomic<bool>* stop)
{
    HeldText text = held;
    text.document = LoadText(path, convert ? TranscodingOf(held.kind, held.encoding) : Transcoding::None, &done, stop);
    text.check = {};
    return text;
}

} // namespace tlg
