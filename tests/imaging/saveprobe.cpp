// Saves a 64x64 picture to PATH as the Save button does, with files capped at LIMIT bytes
// and SIGXFSZ ignored, and prints the message the user would see, or "saved". With UID it
// first becomes that user, so that a read-only folder binds even when the tests run as root.
#include "imaging/saving.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fputs("usage: saveprobe LIMIT PATH [UID]\n", stderr);
        return 2;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = std::strtoull(argv[1], nullptr, 10);
    const rlimit cap{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &cap) != 0) {
        std::perror("setrlimit");
        return 2;
    }
    if (argc == 4) {
        const auto user = static_cast<uid_t>(std::strtoul(argv[3], nullptr, 10));
        if (setgid(user) != 0 || setuid(user) != 0) {
            std::perror("setuid");
            return 2;
        }
    }
    FakeDialog dialog;
    dialog.answers.push_back(QString::fromLocal8Bit(argv[2]));
    const std::optional<QString> message = saveCanvas(dialog, randomPicture(64, 64, 7));
    std::puts(message ? qPrintable(*message) : "saved");
    return 0;
}
