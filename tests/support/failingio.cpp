#include "support/failingio.h"

#include <algorithm>
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

FailingDevice::FailingDevice(qint64 capacity) : m_left(capacity)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 FailingDevice::writeData(const char *, qint64 size)
{
    const qint64 taken = std::min(size, m_left);
    m_left -= taken;
    return taken > 0 || size == 0 ? taken : -1;
}
