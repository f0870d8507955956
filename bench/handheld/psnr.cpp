// PSNR of a picture against the clean scene over the RGB channels, in dB.
//   psnr CLEAN PICTURE [--interior-of DIR]
// With --interior-of, only over the pixels every frame of the makeburst-handheld folder DIR
// covers under its true transform: there every frame has a sample, so a median's result does
// not depend on how a stacker treats the borders; the least PSNR of its 64 x 64 tiles follows.
#include "burst.h"

#include "engine/decode/imageloader.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3 && !(arguments.size() == 5 && arguments[3] == "--interior-of")) {
        std::fputs("usage: psnr CLEAN PICTURE [--interior-of DIR]\n", stderr);
        return 2;
    }
    std::optional<QImage> pictures[2];
    for (int i = 0; i < 2; ++i) {
        Outcome<QImage> picture = decodeImageFile(arguments[i + 1]);
        if (!picture) {
            std::fprintf(stderr, "psnr: %s: %s\n", qPrintable(arguments[i + 1]), qPrintable(picture.reason()));
            return 1;
        }
        pictures[i] = std::move(*picture);
    }
    std::optional<Coverage> interior;
    if (arguments.size() == 5) {
        const std::vector<Truth> truths = readTruths(QDir(arguments[4]));
        if (truths.empty()) {
            std::fprintf(stderr, "psnr: no frames in %s/transforms.txt\n", qPrintable(arguments[4]));
            return 1;
        }
        interior = interiorOf(truths, pictures[0]->size(), pictures[0]->size());
    }
    const std::optional<double> db = psnr(*pictures[0], *pictures[1], interior ? &*interior : nullptr);
    if (!db) {
        std::fprintf(stderr, "psnr: %s is not the size of %s\n", qPrintable(arguments[2]), qPrintable(arguments[1]));
        return 1;
    }
    if (const std::optional<double> worst = interior ? worstTilePsnr(*pictures[0], *pictures[1], *interior) : std::nullopt)
        std::printf("%.2f (worst 64 px tile %.2f)\n", *db, *worst);
    else
        std::printf("%.2f\n", *db);
    return 0;
}
