#include "engine/stack/scratchio.h"

#include <fcntl.h>
#include <unistd.h>

ssize_t ScratchIo::write(int file, const void *data, std::size_t size, off_t at)
{
    return pwrite(file, data, size, at);
}

ssize_t ScratchIo::read(int file, void *data, std::size_t size, off_t at)
{
    return pread(file, data, size, at);
}

int ScratchIo::flush(int file, off_t at, off_t size)
{
    return sync_file_range(file, at, size, SYNC_FILE_RANGE_WRITE);
}

ScratchIo &ScratchIo::system()
{
    static ScratchIo io;
    return io;
}
