#include "owned_bitmap.h"

#include <new>

void COwnedBitmap::Allocate(std::size_t nBytes)
{
    // Frame sizes come from files: running out of memory is a message for the user, not an
    // exception through the interface thread, hence the nothrow form.
    m_pBytes.reset(new (std::nothrow) std::uint8_t[nBytes]());
    m_nSize = m_pBytes ? nBytes : 0;
}

void COwnedBitmap::Release()
{
    m_pBytes.reset();
    m_nSize = 0;
}
