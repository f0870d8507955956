#include "engine/write/fdwriter.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

FdWriter::FdWriter(int descriptor) : m_descriptor(descriptor)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 FdWriter::writeData(const char *data, qint64 size)
{
    // Later writes would only bury the first reason under their own.
    if (!m_failure.isEmpty())
        return -1;
    qint64 done = 0;
    while (done < size) {
        const ssize_t written =
            ::pwrite(m_descriptor, data + done, static_cast<std::size_t>(size - done), off_t(pos() + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A regular file that takes no bytes and names no reason is broken.
            m_failure = qt_error_string(written < 0 ? errno : EIO);
            return -1;
        }
        done += written;
    }
    return size;
}

qint64 FdWriter::size() const
{
    struct stat status {};
    return ::fstat(m_descriptor, &status) == 0 ? qint64(status.st_size) : 0;
}

bool FdWriter::sync()
{
    if (!m_failure.isEmpty())
        return false;
    int result;
    do
        result = ::fsync(m_descriptor);
    while (result != 0 && errno == EINTR);
    // EINVAL: a descriptor that cannot be synchronised; nothing was lost.
    if (result != 0 && errno != EINVAL)
        m_failure = qt_error_string(errno);
    return m_failure.isEmpty();
}
