// Long use of the window: 500 operations in a row (or as many as the argument says) through its
// buttons and list (loads, medians of 3 small images, brightenings, subtractions, saves),
// printing resident memory at the start and the end. Meant to run under valgrind or heaptrack, not as a test: it asserts nothing
// about time or memory, only that every step went through.
#include "app/form1.h"
#include "support/window/fakes.h"
#include "support/images.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr int DefaultOperations = 500;

// Kilobytes, as the kernel reports them.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file reports size 0, so atEnd() holds from the start: read it whole.
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLong();
    return -1;
}

void click(const Form1 &window, const char *name)
{
    window.findChild<QPushButton *>(QString::fromLatin1(name))->click();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int operations = argc > 1 ? std::atoi(argv[1]) : DefaultOperations;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // Three formats for the stack, a fourth picture of another size to subtract.
    const QStringList stack{writePicture(randomPicture(160, 120, 1), dir.path(), "a.bmp"),
                            writePicture(randomPicture(160, 120, 2), dir.path(), "b.png", "png"),
                            writePicture(randomPicture(160, 120, 3), dir.path(), "c.jpg", "jpg")};
    const QString second = writePicture(randomPicture(97, 131, 4), dir.path(), "d.png", "png");

    FakeDialog dialog;
    FakeDesktop desktop;
    Form1 window(dialog, desktop);
    auto *list = window.findChild<QListWidget *>(QStringLiteral("List1"));
    std::printf("soak: RSS at start %ld kB\n", residentKb());

    int done = 0;
    int saves = 0;
    const auto add = [&](const QString &path) {
        dialog.answers.push_back(path);
        click(window, "Command3");
    };
    const std::vector<std::function<void()>> cycle{
        [&] { list->setCurrentRow(done % 3); }, // shows that entry: a load
        [&] { click(window, "Command1"); },
        [&] { click(window, "Command7"); },
        [&] {
            dialog.answers.push_back(second);
            click(window, "Command8");
        },
        [&] {
            // A few names in turn: most saves replace an earlier file.
            dialog.answers.push_back(dir.filePath(QStringLiteral("out%1.bmp").arg(saves++ % 4)));
            click(window, "Command4");
        },
        [&] { add(stack[done % 3]); },
        [&] { list->setCurrentRow(3); },
        [&] {
            click(window, "Command2"); // back to a stack of 3
            // The fake dialog logs every show; that growth is not the program's.
            dialog.filtersShown.clear();
            dialog.namesShown.clear();
            dialog.modes.clear();
        },
    };
    for (const QString &path : stack) {
        add(path);
        ++done;
    }
    for (std::size_t step = 0; done < operations; ++step, ++done)
        cycle[step % cycle.size()]();

    const bool clean = desktop.messages.isEmpty() && dialog.answers.empty();
    // Each median, brightening and subtraction ends with a beep.
    std::printf("soak: %d operations, %d beeps, %d saves, %lld messages; RSS at end %ld kB\n", done,
                desktop.beeps, saves, static_cast<long long>(desktop.messages.size()), residentKb());
    for (const QString &message : desktop.messages)
        std::printf("soak: message %s\n", qPrintable(message));
    return clean ? EXIT_SUCCESS : EXIT_FAILURE;
}
