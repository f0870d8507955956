#include "support/window/fakes.h"

bool FakeDialog::show(Mode mode)
{
    filtersShown << filter();
    namesShown << fileName();
    modes << (mode == Mode::Open          ? QStringLiteral("open")
              : mode == Mode::OpenSeveral ? QStringLiteral("open several")
                                          : QStringLiteral("save"));
    if (answers.empty())
        return false;
    const std::optional<QStringList> answer = answers.front().paths;
    answers.pop_front();
    if (!answer)
        return false;
    Q_ASSERT(!answer->isEmpty() && (answer->size() == 1 || mode == Mode::OpenSeveral));
    setFileNames(*answer);
    return true;
}

void FakeDesktop::showMessage(QWidget *, const QString &title, const QString &text, bool warning)
{
    messages << title + u'|' + text + u'|' + (warning ? QStringLiteral("warning") : QStringLiteral("information"));
    if (onMessage)
        onMessage();
}

FakeHost::FakeHost()
    : Picture1(std::make_unique<PictureBox>(QSize(233, 305), nullptr)),
      Picture3(std::make_unique<PictureBox>(QSize(105, 113), nullptr))
{
}

void FakeHost::Cap(const QString &text)
{
    eventPoint();
    log << QStringLiteral("Cap:") + text;
    eventPoint();
}

void FakeHost::letEventsRun()
{
    log << QStringLiteral("events");
    eventPoint();
}

std::optional<QString> FakeHost::imagePath(int index) const
{
    if (index < 0 || index >= paths.size())
        return std::nullopt;
    return paths[index];
}

void FakeHost::eventPoint()
{
    const int number = m_eventPoints++;
    if (atEventPoint)
        atEventPoint(number);
}
