#include "Support/ProcessCpu.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace test {

double processCpuSeconds(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The program's name, in parentheses, may hold spaces; the fields after it start with the state (field
    // 3), utime and stime are fields 14 and 15, in clock ticks.
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

} // namespace test
