#include "support/failingio.h"

#include <cerrno>

bool FailingIo::failsNow(Kind kind)
{
    const int call = ++m_calls[std::size_t(kind)];
    if (kind != m_kind || call != m_failAt)
        return false;
    errno = m_error;
    return true;
}

ssize_t FailingIo::write(int file, const void *data, std::size_t size, off_t at)
{
    return failsNow(Kind::Write) ? -1 : ScratchIo::write(file, data, size, at);
}

ssize_t FailingIo::read(int file, void *data, std::size_t size, off_t at)
{
    return failsNow(Kind::Read) ? -1 : ScratchIo::read(file, data, size, at);
}

int FailingIo::flush(int file, off_t at, off_t size)
{
    return failsNow(Kind::Flush) ? -1 : ScratchIo::flush(file, at, size);
}
