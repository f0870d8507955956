#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

// One file loaded through decodeImageFile in a child process (tests/imaging/loadprobe.cpp), so
// that a hang or a crash in a decoder fails the test instead of stopping it.
struct ChildLoad {
    enum class Outcome { Loaded, Refused, Crashed, TimedOut };
    // Hashing 100 megapixels takes seconds; the big hostile files only need their size.
    enum class Pixels { Hashed, NotHashed };
    Outcome outcome = Outcome::Crashed;
    QSize size;
    QByteArray sha256; // rgbSha256 of the loaded picture, when hashed
    qint64 peakRssKb = 0;
    QString reason;    // the loader's, when refused
    QString detail;    // the child's exit, output and Qt's warnings, for failure messages
};

// 5 s is far above any file here; the child runs with an address-space cap of 4 GiB.
ChildLoad loadInChild(const QString &path, int timeoutMs = 5000,
                      ChildLoad::Pixels pixels = ChildLoad::Pixels::Hashed);
