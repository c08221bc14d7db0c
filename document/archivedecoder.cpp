#include "document/archivedecoder.h"

#include "core/errors.h"

namespace tlg {

ArchiveDecoder::ArchiveDecoder(int fd, const std::string& member, const std::string& path, bool scan)
    : CompressedDecoder(fd, RestartPoint{}, scan), m_reader(fd)
{
    if (!m_reader.find(member)) {
        if (m_reader.readError())
            return; // said by the scan
        if (m_reader.failed())
            throw Failure("Cannot read the archive " + path + ": " + m_reader.reason());
        throw Failure("No file " + member + " in the archive " + path);
    }
}

std::size_t ArchiveDecoder::decode(char* out, std::size_t room)
{
    if (m_reader.readError()) {
        state = State::Damaged;
        return 0;
    }
    const std::int64_t got = m_reader.read(out, room);
    if (got <= 0) {
        state = got == 0 ? State::End : State::Damaged;
        return 0;
    }
    text += got;
    return static_cast<std::size_t>(got);
}

} // namespace tlg
