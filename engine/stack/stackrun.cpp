#include "engine/stack/stackrun.h"

#include "engine/core/framebuffers.h"
#include "engine/stack/modetable.h"


namespace {

// Freed frame buffers a run keeps for its next decodes: the decoding room holds three frames of
// the stacked area, and the canvas and a decoder at its turn one each.
constexpr int KeptFrames = 5;

// The kernel zeroes fresh pages on first touch, as slowly as the host of a virtual machine
// hands them back; done here, image by image in loading order, while later frames decode.
PoolTask faultInPlanes(const StackPlanes &planes, int count)
{
    return WorkerPool::shared().start([&planes, count](const std::atomic<bool> &stop) {
        for (int i = 0; i < count && !stop; ++i)
            planes.prefault(i);
    });
}

// Aligns each decoded frame to the reference on the worker that decoded it.
FrameAligner alignerTo(const QImage &reference, AlignMethod method)
{
    auto features = std::make_shared<const AlignmentReference>(reference, method);
    return [features](QImage decoded) {
        LoadedPicture aligned;
        const Outcome<FrameAlignment> found = features->align(decoded);
        if (!found) {
            aligned.failure = found.reason();
            aligned.unaligned = true;
            return aligned;
        }
        std::optional<WarpedFrame> warped = warpFrame(decoded, found->toFrame, features->area(), found->field);
        if (!warped) {
            aligned.failure = qt_error_string(ENOMEM);
            return aligned;
        }
        aligned.picture = std::move(warped->picture);
        aligned.coverage = std::move(warped->coverage);
        aligned.alignment = found->facts;
        return aligned;
    };
}

FrameDecoder loaderAt(SampleDepth depth)
{
    return [depth](QIODevice &file, const SizeAdmission &admit) { return decodeImageDeviceAtDepth(file, admit, depth); };
}

} // namespace

StackRun::StackRun(QSize area, const QStringList &paths, const StackResources &resources,
                   const StackOptions &options, const QImage &alignTo, AlignMethod method)
    : m_area(area), m_count(int(paths.size())), m_options(options)
{
    const std::optional<std::uint64_t> budget = resources.memory();
    const std::uint64_t decoding = decodingRoom(area, options.depth);
    if (modeEntry(options.mode).kernel) {
        ScratchIo &io = resources.io ? *resources.io : ScratchIo::system();
        m_planes.emplace(area, m_count, options.depth, budget, resources.scratchFolder, io);
    } else if (!budget || RunningStack::bytesNeeded(area, options.mode, options.depth) + decoding <= *budget) {
        m_running.emplace(area, options.mode, options.depth);
    }
    m_refused = !(m_planes ? m_planes->valid() : m_running && m_running->valid());
    if (m_refused)
        return;
    if (!alignTo.isNull())
        m_coverage.emplace(area, m_count);
    m_ahead.emplace(resources.pool ? *resources.pool : DecodePool::shared(),
                    resources.decoder ? resources.decoder : loaderAt(options.depth), options.depth, paths,
                    std::int64_t(decoding), alignTo.isNull() ? FrameAligner() : alignerTo(alignTo, method));
    // Frames the loop is done with come back for the next decodes: the caller's, and those in
    // flight and in the room of the frames ahead.
    keepFrameBuffers(KeptFrames);
}

StackRun::~StackRun()
{
    endLoading();
}

Outcome<> StackRun::admitted() const
{
    if (!m_refused)
        return {};
    return Failure{QStringLiteral("Not enough memory to stack %1 images of %2 x %3 pixels.")
                       .arg(m_count)
                       .arg(m_area.width())
                       .arg(m_area.height())};
}

LoadedPicture StackRun::take(int index, const QString &path)
{
    LoadedPicture loaded = m_ahead->take(index, path);
    startFaulting();
    return loaded;
}

void StackRun::skip(int index)
{
    m_ahead->skip(index);
    startFaulting();
}

// Not before the first frame is in hand: until then the cores are the first decodes', which the
// first title waits for.
void StackRun::startFaulting()
{
    if (m_faultingStarted || !m_ahead || !m_planes)
        return;
    m_faultingStarted = true;
    m_faulting = faultInPlanes(*m_planes, m_count);
}

Outcome<> StackRun::add(int index, const QImage &picture, const std::optional<Coverage> &coverage)
{
    // A picture the caller brings may come at the other depth; Qt widens 8-bit samples exactly.
    const QImage::Format format = m_options.depth == SampleDepth::Sixteen ? QImage::Format_RGBX64 : QImage::Format_RGB32;
    const QImage frame = picture.format() == format || picture.isNull() ? picture : picture.convertToFormat(format);
    if (frame.isNull() && !picture.isNull())
        return Failure{qt_error_string(ENOMEM)};
    if (m_coverage) {
        if (coverage)
            m_coverage->set(index, *coverage);
        else
            m_coverage->setWhole(index);
    }
    if (m_running) {
        // Without a coverage the frame is in the grid already and gives every pixel.
        m_running->add(frame, coverage ? &*coverage : nullptr);
        return {};
    }
    startFaulting();
    Outcome<> copied = m_planes->copyImage(index, frame);
    if (!copied)
        endLoading();
    return copied;
}

void StackRun::endLoading()
{
    if (!m_ahead)
        return;
    m_ahead.reset();
    keepFrameBuffers(0);
    m_faulting = {};
}

Outcome<> StackRun::finish(QImage &surface)
{
    endLoading();
    if (m_running) {
        const bool done = m_running->paint(surface, m_coverage ? &*m_coverage : nullptr);
        m_running.reset();
        return done ? Outcome<>() : Failure{qt_error_string(ENOMEM)};
    }
    // Planes on disk can fail part-way; they paint a copy, which replaces the surface whole.
    const bool spilled = m_planes->spilled();
    QImage painted = spilled ? surface.copy() : QImage();
    if (spilled && painted.isNull() && !surface.isNull())
        return Failure{qt_error_string(ENOMEM)};
    Outcome<> done = m_planes->paint(spilled ? painted : surface, m_options, m_coverage ? &*m_coverage : nullptr);
    m_planes.reset();
    if (!done)
        return done;
    if (spilled)
        surface = std::move(painted);
    return {};
}
