#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

// The resident memory of a running process in MB (VmRSS of /proc/<pid>/status); none when it cannot be
// read.
inline std::optional<double> residentMegabytes(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return std::nullopt;
}
