#pragma once

#include "engine/stack/stackresources.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

// Every entry of the folder, hidden ones included.
QStringList entriesOf(const QString &folder);

// Descriptors of this process open on files in the folder: an unnamed scratch file shows
// there as "folder/#inode (deleted)".
int openFilesIn(const QString &folder);

// A memory budget that sends `count` frames' planes of `area` to disk in bands of `rows` rows:
// twice a band beyond the room for decoding, 12 bytes a pixel.
MemoryProbe spillingInBands(int rows, QSize area, int count);

// Each picture as a BMP file in `folder`, named frameN.bmp; a null picture as a file that does
// not decode.
QStringList writeFrames(const std::vector<QImage> &pictures, const QString &folder);

// An ext4 file system of `bytes` in an image inside `folder`, loop-mounted there with
// errors=remount-ro for as long as this lives. Needs root and a kernel that lets this process
// mount; mounted() says whether it could.
class LoopMountedExt4 {
public:
    LoopMountedExt4(const QString &folder, qint64 bytes);
    ~LoopMountedExt4();
    LoopMountedExt4(const LoopMountedExt4 &) = delete;
    LoopMountedExt4 &operator=(const LoopMountedExt4 &) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_mountPoint; }
    // Fails the file system as a disk error does, so that ext4 turns it read-only; false where
    // the kernel offers no way to (no /sys/fs/ext4/DEVICE/trigger_fs_error).
    bool fail() const;

private:
    QString m_mountPoint;
    bool m_mounted = false;
};
