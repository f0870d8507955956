#include "cli/runreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

RunReport::RunReport(const QStringList &frames, std::optional<AlignMethod> align)
    : m_paths(frames), m_align(align), m_frames(std::size_t(frames.size()))
{
}

void RunReport::taken(const FrameTaken &frame)
{
    Frame &entry = m_frames[std::size_t(frame.index)];
    entry.alignment = frame.alignment;
    if (frame.picture) {
        entry.status = m_align && frame.brought ? QStringLiteral("reference") : QStringLiteral("stacked");
        return;
    }
    entry.status = frame.unaligned ? QStringLiteral("not aligned") : QStringLiteral("not read");
    entry.reason = frame.failure;
}

void RunReport::unread(int index, const QString &reason)
{
    m_frames[std::size_t(index)] = {QStringLiteral("not read"), reason, std::nullopt};
}

void RunReport::finished(const QString &failure, double seconds)
{
    m_failure = failure;
    m_seconds = seconds;
}

namespace {

QJsonObject alignmentJson(const AlignmentFacts &facts)
{
    return {{QStringLiteral("matches"), facts.matches},
            {QStringLiteral("inliers"), facts.inliers},
            {QStringLiteral("residualPixels"), facts.residual},
            {QStringLiteral("refinedTiles"), facts.refinedTiles},
            {QStringLiteral("refinedArea"), facts.refinedArea}};
}

QString alignWord(std::optional<AlignMethod> align)
{
    if (!align)
        return QStringLiteral("none");
    return *align == AlignMethod::Global ? QStringLiteral("global") : QStringLiteral("global and local");
}

} // namespace

QByteArray RunReport::json() const
{
    QJsonArray frames;
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const Frame &frame = m_frames[i];
        QJsonObject entry{{QStringLiteral("path"), m_paths[qsizetype(i)]}, {QStringLiteral("status"), frame.status}};
        if (!frame.reason.isEmpty())
            entry[QStringLiteral("reason")] = frame.reason;
        if (frame.alignment)
            entry[QStringLiteral("alignment")] = alignmentJson(*frame.alignment);
        frames.append(entry);
    }
    QJsonObject run{{QStringLiteral("mode"), QString(modeEntry(m_options.mode).word)},
                    {QStringLiteral("depth"), m_options.depth == SampleDepth::Sixteen ? 16 : 8},
                    {QStringLiteral("align"), alignWord(m_align)},
                    {QStringLiteral("frameCount"), int(m_frames.size())},
                    {QStringLiteral("seconds"), m_seconds},
                    {QStringLiteral("written"), m_failure.isEmpty()},
                    {QStringLiteral("frames"), frames}};
    if (m_options.mode == StackMode::SigmaClippedMean)
        run[QStringLiteral("kappa")] = m_options.kappaHundredths / 100.0;
    if (!m_failure.isEmpty())
        run[QStringLiteral("reason")] = m_failure;
    return QJsonDocument(run).toJson();
}

Outcome<> reportWritable(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Failure{file.errorString()};
    file.cancelWriting();
    return {};
}

Outcome<> writeReport(const QString &path, const QByteArray &json)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        return Failure{file.errorString()};
    return {};
}
