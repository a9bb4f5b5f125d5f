#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to a file, making its folder first; true only when every byte was written.
bool writeFile(const QString &path, const QByteArray &bytes);

// A file's bytes; empty when it can not be read.
QByteArray readFile(const QString &path);
