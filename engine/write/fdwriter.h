#pragma once

#include <QIODevice>
#include <QString>

// Write-only, seekable device over a descriptor it does not own: encoders such as TIFF's go back
// to patch offsets. Each write reaches the descriptor whole at the device's position: short
// writes are continued and interrupted ones retried. QFile reports "Unknown error" when a short
// write is followed by a failing one; this keeps the system's reason.
class FdWriter : public QIODevice {
public:
    explicit FdWriter(int descriptor);

    qint64 size() const override;
    // Flushes the written bytes to the disk, where a full network or delayed-allocation file
    // system may only now report the failure.
    bool sync();
    // The reason the first failed call gave; empty while every call went through.
    const QString &failure() const { return m_failure; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    int m_descriptor;
    QString m_failure;
};
