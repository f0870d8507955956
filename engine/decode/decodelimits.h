#pragma once

#include <QSize>
#include <QString>

#include <functional>

// What every decoder checks before it allocates pixels, and the reasons it gives, so that a
// picture is refused alike whichever library decodes it.

// Decoded pictures larger than this are refused before decoding: a hostile header must not
// cost gigabytes, and median stacking keeps several of them at once.
inline constexpr qint64 MaxPicturePixels = 250'000'000;

// Samples per channel of a loaded picture: Format_RGB32 at Eight, Format_RGBX64 at Sixteen.
enum class SampleDepth { Eight, Sixteen };
constexpr int bytesPerSample(SampleDepth depth)
{
    return depth == SampleDepth::Sixteen ? 2 : 1;
}

// Sees a picture's announced size before its pixels are decoded; false refuses the picture.
using SizeAdmission = std::function<bool(QSize announced)>;

inline const QString TooLarge = QStringLiteral("too large");
inline const QString Undecodable = QStringLiteral("not a picture or damaged");

// The announced size within the pixel budget and, when asked, the caller's admission.
bool admitted(QSize announced, const SizeAdmission &admit);

// A decoder reports a picture it had no memory for as damaged; whether the memory for it at
// `depth` is there tells the two apart.
QString whyNotDecoded(QSize announced, SampleDepth depth);
