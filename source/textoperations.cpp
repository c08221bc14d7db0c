#include "source/textoperations.h"

#include "core/fileops.h"
#include "document/textload.h"

namespace tlg {

FileSample SampleOf(const std::string& path)
{
    return {AgeStamp(path), FileSizeOf(path), StampOf(path)};
}

namespace {

// The kind of reading a just loaded text needs: its first bytes are looked at as they are, so
// a log that grows meanwhile is never taken for 16-bit text. A text without NULs (the index
// knows) needs no pass to tell whether NULs must be dropped.
UnicodeKind KindOf(const LogDocument& loaded, Encoding encoding)
{
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be)
        return UnicodeKind::Utf16;
    return ClassifyLoadedText(loaded);
}

// The text of the file read by its kind: converted for 16-bit text and NUL bytes, the plain
// bytes otherwise (of which only what `plain` does not hold yet is read).
DocumentPtr ConvertedText(const std::string& path, const HeldText& held, const DocumentPtr& plain,
                          std::atomic<std::int64_t>& done)
{
    switch (held.kind) {
    case UnicodeKind::SingleByte:
        return LoadPlainTextAfter(path, plain, &done);
    case UnicodeKind::NulBytes:
        return LogDocument::fromBytes(ReadDroppingNuls(path));
    case UnicodeKind::ByteOrderMark:
        return LogDocument::fromBytes(ReadAfterMark(path));
    case UnicodeKind::Utf16:
        return LoadUtf16Text(path, held.encoding == Encoding::Utf16Be);
    }
    return plain;
}

} // namespace

HeldText OpenText(const std::string& path, const EncodingChoice& choice, bool alwaysConvert,
                  std::atomic<std::int64_t>& done)
{
    HeldText text;
    text.document = LoadPlainText(path, &done);
    // Only the first bytes decide the encoding.
    const TextSlice head = text.document->slice(0, static_cast<ByteOffset>(kDetectionSample));
    const Encoding found = DetectEncoding(head.view()).encoding;
    text.encoding = choice.automatic ? found : choice.forced;
    text.kind = KindOf(*text.document, text.encoding);
    if (text.kind != UnicodeKind::SingleByte || alwaysConvert)
        text.document = ConvertedText(path, text, text.document, done);
    return text;
}

HeldText FollowText(const std::string& path, const HeldText& held, bool convert, bool compare, bool differs,
                    bool& wholeRead, std::atomic<std::int64_t>& done)
{
    HeldText text = held;
    wholeRead = false;
    if (convert && held.kind != UnicodeKind::SingleByte) {
        text.document = ConvertedText(path, held, held.document, done);
        text.check = {};
        wholeRead = true;
        return text;
    }
    if (!compare) {
        // A change that was notified compares nothing, so that a log written in a burst costs
        // no more than the bytes it gained; the next regular look compares it all.
        text.document = LoadPlainTextAfter(path, held.document, &done);
        text.check.unchecked = static_cast<std::int64_t>(text.document->size());
    } else {
        text.document = LoadFollowedText(path, held.document, text.check, differs, &done);
    }
    wholeRead = !text.document->grewFrom(*held.document);
    return text;
}

HeldText ReadAgain(const std::string& path, const HeldText& held, bool convert, std::atomic<std::int64_t>& done)
{
    HeldText text = held;
    text.document = LoadPlainText(path, &done);
    text.check = {};
    if (convert)
        text.document = ConvertedText(path, held, text.document, done);
    return text;
}

} // namespace tlg
