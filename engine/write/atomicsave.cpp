#include "engine/write/atomicsave.h"

#include "engine/core/filenames.h"
#include "engine/write/fdwriter.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// By bytes rather than through QSaveFile: Qt would write a name that is not UTF-8 as another one.
namespace {

constexpr int MaxLinkDepth = 128;

QString systemReason()
{
    return qt_error_string(errno);
}

// The file a chain of symbolic links ends at, so that the links stay and their target is
// replaced; the name itself when the chain does not end.
QByteArray linkTarget(const QByteArray &name)
{
    QByteArray at = name;
    for (int depth = 0; depth < MaxLinkDepth; ++depth) {
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(at.constData(), target.data(), std::size_t(target.size()));
        if (length < 0 || length >= target.size())
            return at;
        target.truncate(length);
        const qsizetype slash = at.lastIndexOf('/');
        at = target.startsWith('/') || slash < 0 ? target : at.left(slash + 1) + target;
    }
    return name;
}

constexpr int NameAttempts = 100;

// A name beside `final`, after it with a random ending.
QByteArray besideName(const QByteArray &final)
{
    return final + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
}

// A new file beside `final` under a name of besideName(); -1 with errno set.
int createNamed(const QByteArray &final, mode_t mode, QByteArray *name)
{
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        *name = besideName(final);
        const int descriptor = ::open(name->constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

QByteArray folderOf(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : file.left(slash);
}

// The bytes of the file being written, as the descriptor's own link names them.
QByteArray procPath(int descriptor)
{
    return "/proc/self/fd/" + QByteArray::number(descriptor);
}

// The file being written: unnamed until it is complete, or a named temporary, or the old file
// itself when written in place.
struct NewFile {
    enum class Kind { Unnamed, Named, InPlace };
    int descriptor = -1;
    Kind kind = Kind::Unnamed;
    QByteArray temporary; // Named: its name

    QByteArray readablePath() const { return kind == Kind::Unnamed ? procPath(descriptor) : temporary; }
};

// Nobody else may open the new file before it has the old one's permissions.
Outcome<NewFile> createNewFile(const QByteArray &final, bool exists, InPlace inPlace)
{
    const mode_t mode = exists ? 0600 : 0666;
    NewFile file;
    file.descriptor = ::open(folderOf(final).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    // EOPNOTSUPP and EISDIR: file systems and kernels without unnamed files.
    if (file.descriptor < 0 && errno != EACCES) {
        file.kind = NewFile::Kind::Named;
        file.descriptor = createNamed(final, mode, &file.temporary);
    }
    if (file.descriptor < 0 && errno == EACCES && inPlace == InPlace::Allowed) {
        file.kind = NewFile::Kind::InPlace;
        file.temporary = final;
        file.descriptor = ::open(final.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (file.descriptor < 0)
        return Failure{systemReason()};
    return file;
}

// An encoder may report success over bytes nothing can read; the header is enough to tell.
bool readsBackAs(const QByteArray &name, QSize size)
{
    const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (descriptor >= 0)
            ::close(descriptor);
        return false;
    }
    QImageReader reader(&file);
    return reader.size() == size;
}

// Encodes onto the file; with an edit, in memory first, so that the file only ever receives the
// finished bytes.
Outcome<> encodeOnto(FdWriter &device, const QImage &picture, const DeviceWriter &encode, const EncodedEdit &edit)
{
    const auto failed = [&device] {
        return Failure{device.failure().isEmpty() ? QStringLiteral("Write failed") : device.failure()};
    };
    if (!edit)
        return encode(picture, device) ? Outcome<>() : failed();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!encode(picture, buffer))
        return Failure{QStringLiteral("Write failed")};
    QByteArray encoded = buffer.buffer();
    buffer.close();
    if (Outcome<> edited = edit(encoded); !edited)
        return edited;
    return device.write(encoded) == encoded.size() ? Outcome<>() : failed();
}

// Links an unnamed file under a free name of besideName(); empty, with errno set, when it cannot.
QByteArray linkBeside(const QByteArray &self, const QByteArray &final)
{
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        const QByteArray name = besideName(final);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0)
            return name;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

// Puts the finished file in place of `final`.
Outcome<> publish(const NewFile &file, const QByteArray &final)
{
    if (file.kind == NewFile::Kind::InPlace)
        return {};
    if (file.kind == NewFile::Kind::Unnamed) {
        const QByteArray self = procPath(file.descriptor);
        // A new name is linked at once; an old file is replaced by rename, which needs a name.
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, final.constData(), AT_SYMLINK_FOLLOW) == 0)
            return {};
        if (errno != EEXIST)
            return Failure{systemReason()};
        const QByteArray temporary = linkBeside(self, final);
        if (temporary.isEmpty())
            return Failure{systemReason()};
        if (::rename(temporary.constData(), final.constData()) == 0)
            return {};
        const Outcome<> failed = Failure{systemReason()};
        ::unlink(temporary.constData());
        return failed;
    }
    return ::rename(file.temporary.constData(), final.constData()) == 0 ? Outcome<>() : Failure{systemReason()};
}

} // namespace

Outcome<> writeImageFile(const QImage &picture, const QString &path, const DeviceWriter &encode, InPlace inPlace,
                         const EncodedEdit &edit)
{
    const QByteArray name = bytesOfName(path);
    struct stat existing {};
    const bool exists = ::stat(name.constData(), &existing) == 0;
    // A pipe or a device at that name would be replaced by a regular file, or block.
    if (exists && !S_ISREG(existing.st_mode))
        return Failure{QStringLiteral("Not a regular file")};
    if (exists && ::access(name.constData(), W_OK) != 0)
        return Failure{QStringLiteral("Existing file %1 is not writable").arg(path)};
    const QByteArray final = linkTarget(name);
    const Outcome<NewFile> created = createNewFile(final, exists, inPlace);
    if (!created)
        return Failure{created.reason()};
    const NewFile &file = *created;
    if (exists && file.kind != NewFile::Kind::InPlace)
        ::fchmod(file.descriptor, existing.st_mode & 0777);
    // Opening in place has already emptied the old file.
    const QString lost = file.kind == NewFile::Kind::InPlace ? QStringLiteral(" (the old file was overwritten)") : QString();

    FdWriter device(file.descriptor);
    Outcome<> done = encodeOnto(device, picture, encode, edit);
    if (done && !readsBackAs(file.readablePath(), picture.size()))
        done = Failure{QStringLiteral("The written file does not read back")};
    if (done && !device.sync())
        done = Failure{device.failure()};
    if (done)
        done = publish(file, final);
    // Synchronised already: what close() could still report has been reported. An unnamed file
    // that was never linked goes with its descriptor.
    ::close(file.descriptor);
    if (done)
        return {};
    if (file.kind == NewFile::Kind::Named)
        ::unlink(file.temporary.constData());
    return Failure{done.reason() + lost};
}
