#pragma once

#include <QByteArray>
#include <QString>

// What the simulated package manager reads from a package file: the package name and version code in the
// binary AndroidManifest.xml inside the zip, as PackageParser does on a phone (AOSP
// frameworks/base/core/java/android/content/pm/PackageParser.java, parseApkLite; the binary XML layout is
// frameworks/base/libs/androidfw/include/androidfw/ResourceTypes.h: ResChunk_header, ResStringPool_header,
// ResXMLTree_attrExt, ResXMLTree_attribute, Res_value).
struct ApkManifest
{
    QString package;
    qint64 versionCode = 0;
};

// False with an error text for a file that is no zip, has no manifest, or a manifest it can not read.
bool readApkManifest(const QByteArray &apk, ApkManifest *manifest, QString *error);
