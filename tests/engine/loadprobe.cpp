// Loads one file through the program's loader and prints "ok WxH sha256" ("ok WxH" with
// --no-hash) or "fail REASON", then "rss KB", its peak resident memory. Tests run it as a child
// process, so that a load that hangs, crashes or runs away fails a test, not the run.
#include "engine/decode/imageloader.h"
#include "support/rgbhash.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define LOADPROBE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LOADPROBE_ASAN 1
#endif
#endif

int main(int argc, char *argv[])
{
#ifndef LOADPROBE_ASAN
    // A runaway allocation fails at 4 GiB instead of taking the machine. AddressSanitizer
    // reserves terabytes of address space for its shadow, so it cannot run under this cap.
    const rlimit cap{4ull << 30, 4ull << 30};
    if (setrlimit(RLIMIT_AS, &cap) != 0)
        std::perror("setrlimit");
#endif
    QCoreApplication app(argc, argv);
    const bool hash = !(argc == 3 && qstrcmp(argv[1], "--no-hash") == 0);
    if (argc != (hash ? 2 : 3)) {
        std::fputs("usage: loadprobe [--no-hash] FILE\n", stderr);
        return 2;
    }
    const Outcome<QImage> picture = decodeImageFile(QString::fromLocal8Bit(argv[argc - 1]));
    if (picture && hash)
        std::printf("ok %dx%d %s\n", picture->width(), picture->height(), rgbSha256(*picture).constData());
    else if (picture)
        std::printf("ok %dx%d\n", picture->width(), picture->height());
    else
        std::printf("fail %s\n", qPrintable(picture.reason()));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rss %ld\n", usage.ru_maxrss);
    return 0;
}
