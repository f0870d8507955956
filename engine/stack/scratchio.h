#pragma once

#include <sys/types.h>

#include <cstddef>

// The calls a scratch file is written, read and flushed through: the system's own unless a test
// puts in one that fails as a dying disk does. Each returns what its system call returns, with
// errno set on failure, and may be called from several threads at once.
class ScratchIo {
public:
    virtual ~ScratchIo() = default;

    virtual ssize_t write(int file, const void *data, std::size_t size, off_t at);
    virtual ssize_t read(int file, void *data, std::size_t size, off_t at);
    // Starts writing the range out, so dirty pages do not pile up against a memory limit.
    virtual int flush(int file, off_t at, off_t size);

    static ScratchIo &system();
};
