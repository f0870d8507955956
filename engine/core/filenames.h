#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Linux file names are bytes. Qt 6 reads them as UTF-8 and turns every byte that is not part of
// UTF-8 into U+FFFD, so such a name could not be opened again. These keep the bytes: each one
// outside valid UTF-8 becomes the lone surrogate U+DC80..U+DCFF, which no UTF-8 decodes to, and
// comes back as itself. Valid names read as Qt reads them.
QString nameFromBytes(QByteArrayView bytes);
QByteArray bytesOfName(QStringView name);
