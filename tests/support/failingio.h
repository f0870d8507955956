#pragma once

#include "engine/stack/scratchio.h"

#include <QIODevice>
#include <QMetaType>

#include <array>
#include <atomic>

// The system's scratch-file calls, counted by kind; the `failAt`-th call of one kind (from 1)
// fails once with `error`, as a dying disk's would, and the calls after it go through again.
class FailingIo : public ScratchIo {
public:
    enum class Kind { Write, Read, Flush };

    FailingIo() = default; // counts only
    FailingIo(Kind kind, int failAt, int error) : m_kind(kind), m_failAt(failAt), m_error(error) {}

    ssize_t write(int file, const void *data, std::size_t size, off_t at) override;
    ssize_t read(int file, void *data, std::size_t size, off_t at) override;
    int flush(int file, off_t at, off_t size) override;

    int calls(Kind kind) const { return m_calls[std::size_t(kind)]; }

private:
    bool failsNow(Kind kind);

    Kind m_kind = Kind::Write;
    int m_failAt = 0;
    int m_error = 0;
    std::array<std::atomic<int>, 3> m_calls{};
};

// A write-only device that takes `capacity` bytes and then fails, as a full disk does: the write
// that crosses the capacity is cut short, the ones after it fail.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(qint64 capacity);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    qint64 m_left;
};

Q_DECLARE_METATYPE(FailingIo::Kind)
