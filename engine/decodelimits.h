#pragma once

#include "engine/imageloader.h"

#include <QSize>
#include <QString>

// What every decoder checks before it allocates pixels, and the reasons it gives, so that a
// picture is refused alike whichever library decodes it.

inline const QString TooLarge = QStringLiteral("too large");
inline const QString Undecodable = QStringLiteral("not a picture or damaged");

// The announced size within the pixel budget and, when asked, the caller's admission.
bool admitted(QSize announced, const SizeAdmission &admit);

// A decoder reports a picture it had no memory for as damaged; whether the memory is there
// tells the two apart.
QString whyNotDecoded(QSize announced);

// Sets `reason` when given; for `return refuse(reason, why);` in a decoder.
std::nullopt_t refuse(QString *reason, const QString &why);
