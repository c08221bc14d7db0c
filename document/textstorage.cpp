#include "document/textstorage.h"

namespace tlg {

bool TextStorage::grewFrom(const TextStorage& earlier) const
{
    // A pending end of the earlier text (decoded again with what followed) may read otherwise.
    return source() == earlier.source() && m_size >= earlier.m_size && earlier.m_stable == earlier.m_size &&
           m_fileSize >= earlier.m_fileSize;
}

} // namespace tlg
