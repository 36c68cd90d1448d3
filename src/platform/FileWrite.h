#pragma once
#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace platform {

// Task files and the settings file can hold the registrar's password and API
// key: a file this program creates is readable by its owner only.
inline constexpr QFileDevice::Permissions kPrivateFilePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Replaces the file at path with bytes through a temporary file in the same
// folder renamed over it, so a failed write leaves the old file whole. A new
// file gets kPrivateFilePermissions; a replaced one keeps its mode. False
// (with the reason) when the file could not be written.
bool replaceFile(const QString& path, const QByteArray& bytes, QString* error);

}  // namespace platform
