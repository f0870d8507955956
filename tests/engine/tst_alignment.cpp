// Frames aligned to a reference: known transforms recovered, the warp's coverage exact, and
// several threads sharing one reference.
#include "engine/align/alignment.h"
#include "support/images.h"
#include "support/texturedscene.h"

#include <QRegularExpression>
#include <QtTest>

#include <latch>
#include <memory>
#include <thread>

namespace {

const QSize Area(640, 480);

// Covered, by the warp's definition: the pre-image, in double precision, within
// [0, w-1] x [0, h-1] of the frame.
bool preImageInside(const Homography &toFrame, QSize frame, int x, int y)
{
    const QPointF p = toFrame.map(QPointF(x, y));
    return p.x() >= 0 && p.x() <= frame.width() - 1 && p.y() >= 0 && p.y() <= frame.height() - 1;
}

// The field's displacement at every pixel of row y, as the warp takes it.
std::vector<QPointF> fieldRow(const LocalField &field, int y)
{
    const auto width = std::size_t(Area.width());
    std::vector<float> dx(width), dy(width);
    LocalField::Rows(field, Area.width()).row(y, dx.data(), dy.data());
    std::vector<QPointF> row;
    for (std::size_t x = 0; x < width; ++x)
        row.emplace_back(dx[x], dy[x]);
    return row;
}

Homography shifted(double dx, double dy)
{
    return Homography{{1, 0, dx, 0, 1, dy, 0, 0, 1}};
}

} // namespace

class AlignmentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void recoversKnownTransforms_data();
    void recoversKnownTransforms();
    void refusesFramesWithoutMatches_data();
    void refusesFramesWithoutMatches();
    void wholePixelWarpsCopyPixels_data();
    void wholePixelWarpsCopyPixels();
    void coverageIsExact_data();
    void coverageIsExact();
    void threadsShareOneReference();
    void localFieldMendsWhatOneHomographyCannot_data();
    void localFieldMendsWhatOneHomographyCannot();
    void moverIsNotDragged();

private:
    QImage m_scene;
    std::unique_ptr<AlignmentReference> m_reference;
};

void AlignmentTest::initTestCase()
{
    m_scene = sceneFrame(Area, Homography());
    m_reference = std::make_unique<AlignmentReference>(m_scene);
    QCOMPARE(m_reference->area(), Area);
}

void AlignmentTest::recoversKnownTransforms_data()
{
    QTest::addColumn<Homography>("truth");
    QTest::newRow("itself") << Homography();
    QTest::newRow("whole-pixel shift") << moved(Area, 12, -7);
    QTest::newRow("sub-pixel shift") << moved(Area, -5.37, 3.81);
    QTest::newRow("turn 1 degree") << moved(Area, 0, 0, 1);
    QTest::newRow("turn -2 degrees") << moved(Area, 0, 0, -2);
    QTest::newRow("zoom 0.98") << moved(Area, 0, 0, 0, 0.98);
    QTest::newRow("zoom 1.02") << moved(Area, 0, 0, 0, 1.02);
    QTest::newRow("slight perspective") << moved(Area, 0, 0, 0, 1, 2e-5, -1.5e-5);
    QTest::newRow("all at once") << moved(Area, 9.2, -6.4, -1.3, 1.015, -1e-5, 1.5e-5);
}

void AlignmentTest::recoversKnownTransforms()
{
    QFETCH(Homography, truth);
    const Outcome<FrameAlignment> found = m_reference->align(sceneFrame(Area, inverted(truth)));
    QVERIFY2(found, found ? "" : qPrintable(found.reason()));
    const double error = cornerError(found->toFrame, truth, Area);
    QVERIFY2(error < 0.5, qPrintable(QString::number(error)));
}

void AlignmentTest::refusesFramesWithoutMatches_data()
{
    QTest::addColumn<QImage>("frame");
    QTest::newRow("flat") << filledPicture(Area.width(), Area.height(), qRgb(90, 120, 60));
    QTest::newRow("pure noise") << randomPicture(Area.width(), Area.height(), 5);
}

void AlignmentTest::refusesFramesWithoutMatches()
{
    QFETCH(QImage, frame);
    const Outcome<FrameAlignment> found = m_reference->align(frame);
    QVERIFY(!found);
    const QString reason = found.reason();
    QVERIFY2(QRegularExpression(R"(^too few matching features \(\d+ of \d+ needed\)$)").match(reason).hasMatch(),
             qPrintable(reason));
}

void AlignmentTest::wholePixelWarpsCopyPixels_data()
{
    QTest::addColumn<Homography>("toFrame");
    QTest::newRow("identity") << Homography();
    QTest::newRow("shift 3, -2") << shifted(3, -2);
    QTest::newRow("shift -4, 5") << shifted(-4, 5);
}

// At whole-pixel offsets the bicubic kernel's taps are 0, 1, 0: every covered pixel is the
// frame's own, byte for byte, and the identity covers everything.
void AlignmentTest::wholePixelWarpsCopyPixels()
{
    QFETCH(Homography, toFrame);
    const QImage frame = randomPicture(37, 23, 8);
    const std::optional<WarpedFrame> warped = warpFrame(frame, toFrame, frame.size());
    QVERIFY(warped);
    QImage expected = warped->picture.copy();
    for (int y = 0; y < frame.height(); ++y) {
        const RowSpan span = warped->coverage[std::size_t(y)];
        for (int x = span.begin; x < span.end; ++x)
            expected.setPixel(x, y, frame.pixel(toFrame.map(QPointF(x, y)).toPoint()));
    }
    QCOMPARE_PIXELS(warped->picture, expected);
    if (toFrame.m == Homography().m) {
        QCOMPARE_PIXELS(warped->picture, frame);
        for (const RowSpan span : warped->coverage)
            QVERIFY(span.begin == 0 && span.end == frame.width());
    }
}

void AlignmentTest::coverageIsExact_data()
{
    QTest::addColumn<Homography>("toFrame");
    QTest::addColumn<QSize>("frame");
    const QSize area(61, 47);
    QTest::newRow("identity") << Homography() << area;
    QTest::newRow("whole-pixel shift") << shifted(5, -3) << area;
    QTest::newRow("half-pixel shift") << shifted(-0.5, 2.5) << area;
    QTest::newRow("turn and zoom") << moved(area, 2.3, -1.7, 7, 1.1) << area;
    QTest::newRow("perspective") << moved(area, -1, 1, -3, 0.95, 4e-3, -3e-3) << area;
    QTest::newRow("horizon inside the area") << Homography{{1, 0, 0, 0, 1, 0, -0.03, 0.01, 1}} << area;
    QTest::newRow("mirrored") << Homography{{-1, 0, 60.5, 0, 1, 0, 0, 0, 1}} << area;
    QTest::newRow("frame smaller than the area") << moved(area, 0.25, 0.75, 12) << QSize(30, 20);
    QTest::newRow("frame larger than the area") << moved(area, -0.4, 0.1, -20) << QSize(90, 70);
    QTest::newRow("shifted off the area") << shifted(80, 0) << area;
}

void AlignmentTest::coverageIsExact()
{
    QFETCH(Homography, toFrame);
    QFETCH(QSize, frame);
    const QSize area(61, 47);
    const std::optional<WarpedFrame> warped = warpFrame(randomPicture(frame.width(), frame.height(), 3), toFrame, area);
    QVERIFY(warped);
    QCOMPARE(warped->coverage.size(), std::size_t(area.height()));
    for (int y = 0; y < area.height(); ++y) {
        const RowSpan span = warped->coverage[std::size_t(y)];
        for (int x = 0; x < area.width(); ++x)
            QVERIFY2((span.begin <= x && x < span.end) == preImageInside(toFrame, frame, x, y),
                     qPrintable(QStringLiteral("(%1, %2), span [%3, %4)").arg(x).arg(y).arg(span.begin).arg(span.end)));
    }
}

void AlignmentTest::threadsShareOneReference()
{
    const std::vector<Homography> truths{moved(Area, 6.5, 2.25, 1), moved(Area, -3, 8, -1.5, 1.01),
                                         moved(Area, 4, -4, 0, 0.99, 1e-5), moved(Area, -7.75, -2, 0.5)};
    std::vector<QImage> frames;
    for (const Homography &truth : truths)
        frames.push_back(sceneFrame(Area, inverted(truth)));
    struct Result {
        std::optional<Homography> toFrame;
        QImage warped;
    };
    const auto alignAndWarp = [this, &frames](std::size_t i) {
        Result result;
        if (const Outcome<FrameAlignment> found = m_reference->align(frames[i]))
            if (const std::optional<WarpedFrame> warped = warpFrame(frames[i], found->toFrame, Area))
                result = {found->toFrame, warped->picture};
        return result;
    };
    std::vector<Result> alone, together(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        alone.push_back(alignAndWarp(i));
    std::latch start(2);
    const auto worker = [&](std::size_t first) {
        start.arrive_and_wait();
        for (std::size_t i = first; i < frames.size(); i += 2)
            together[i] = alignAndWarp(i);
    };
    std::thread other(worker, 1);
    worker(0);
    other.join();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        QVERIFY(alone[i].toFrame && together[i].toFrame);
        QCOMPARE(together[i].toFrame->m, alone[i].toFrame->m);
        QCOMPARE_PIXELS(together[i].warped, alone[i].warped);
    }
}

using SceneMapping = std::function<QPointF(QPointF)>;

void AlignmentTest::localFieldMendsWhatOneHomographyCannot_data()
{
    QTest::addColumn<SceneMapping>("toScene");
    const QPointF centre(Area.width() / 2.0, Area.height() / 2.0);
    // A near layer shifts against the background, which moves a little itself.
    QTest::newRow("parallax layer") << SceneMapping([](QPointF q) {
        const bool near = QRectF(200, 150, 240, 180).contains(q);
        return q - QPointF(2, 1) - (near ? QPointF(5, -3) : QPointF());
    });
    // Barrel distortion moving the corners by about 8 pixels.
    QTest::newRow("radial distortion") << SceneMapping([centre](QPointF q) {
        const QPointF d = q - centre;
        return centre + d * (1 + 2e-7 * (d.x() * d.x() + d.y() * d.y()));
    });
    // A rolling shutter while the hand shakes: the rows read later sit further along a wobble.
    QTest::newRow("rolling shutter") << SceneMapping([](QPointF q) {
        return q + QPointF(3 * std::sin(q.y() / 70), 0);
    });
}

// Against the reference itself, over the area away from the edges: the field takes most of what
// the global fit leaves. A row's span holds exactly the pixels whose pre-image through the
// homography and the field lies in the frame.
void AlignmentTest::localFieldMendsWhatOneHomographyCannot()
{
    QFETCH(SceneMapping, toScene);
    const QImage frame = sceneFrame(Area, toScene);
    const auto errorOf = [&](AlignMethod method) {
        const Outcome<FrameAlignment> found = AlignmentReference(m_scene, method).align(frame);
        const std::optional<WarpedFrame> warped = found ? warpFrame(frame, found->toFrame, Area, found->field) : std::nullopt;
        // Within a thousandth of a pixel: the warp maps through the field in float.
        std::vector<QPointF> displacements;
        const auto inside = [&](int x, int y, double slack) {
            const QPointF q = found->toFrame.map(QPointF(x, y) + displacements[std::size_t(x)]);
            return q.x() >= -slack && q.x() <= Area.width() - 1 + slack && q.y() >= -slack && q.y() <= Area.height() - 1 + slack;
        };
        for (int y = 0; warped && y < Area.height(); ++y) {
            displacements = fieldRow(found->field, y);
            const RowSpan span = warped->coverage[std::size_t(y)];
            for (int x = span.begin; x < span.end; ++x)
                QTest::qVerify(inside(x, y, 1e-3), "covered pixel inside", "", __FILE__, __LINE__);
            for (const int x : {span.begin - 1, span.end})
                if (span.begin < span.end && x >= 0 && x < Area.width())
                    QTest::qVerify(!inside(x, y, -1e-3), "uncovered neighbour outside", "", __FILE__, __LINE__);
        }
        double sum = 0;
        int count = 0;
        for (int y = 24; warped && y < Area.height() - 24; ++y)
            for (int x = 24; x < Area.width() - 24; ++x, ++count)
                sum += std::abs(qGray(warped->picture.pixel(x, y)) - qGray(m_scene.pixel(x, y)));
        return count ? sum / count : 255.0;
    };
    const double global = errorOf(AlignMethod::Global), local = errorOf(AlignMethod::Local);
    qInfo("mean error %.2f global, %.2f local", global, local);
    QVERIFY2(local < global / 2, qPrintable(QStringLiteral("%1 against %2").arg(local).arg(global)));
}

// A box of other texture that jumps between the frames: its tiles match nowhere near and take the
// global fit, so the background around it is not pulled along.
void AlignmentTest::moverIsNotDragged()
{
    const QRectF before(150, 180, 64, 64), after = before.translated(90, 10);
    const auto withMover = [](QRectF box, QPointF shift) {
        return [box, shift](QPointF q) { return box.contains(q) ? q + QPointF(2000, 1000) : q - shift; };
    };
    const AlignmentReference reference(sceneFrame(Area, withMover(before, {})), AlignMethod::Local);
    const Outcome<FrameAlignment> found = reference.align(sceneFrame(Area, withMover(after, {3, 2})));
    QVERIFY(found);
    QVERIFY(found->facts.refinedTiles < 1);
    for (const QPointF centre : {before.center(), after.center()}) {
        const QPointF displacement = fieldRow(found->field, int(centre.y()))[std::size_t(centre.x())];
        QVERIFY2(std::hypot(displacement.x(), displacement.y()) < 0.5,
                 qPrintable(QStringLiteral("%1, %2").arg(displacement.x()).arg(displacement.y())));
    }
}

QTEST_MAIN(AlignmentTest)
#include "tst_alignment.moc"
