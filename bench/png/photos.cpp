// Writes the PNG benchmark's pictures, 12 MP each, as DIR/smooth.bmp and DIR/noisy.bmp for
// bench/png/cli-png to time whole runs of the batch tool on.
#include "bench/surfaces.h"

#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fputs("usage: ombrelux_photos DIR\n", stderr);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const bool written = photoSurface(4000, 3000, 1.5, 11).save(dir.filePath("smooth.bmp"))
        && photoSurface(4000, 3000, 12, 12).save(dir.filePath("noisy.bmp"));
    return written ? 0 : 1;
}
