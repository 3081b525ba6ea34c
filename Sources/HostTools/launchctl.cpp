// launchctl: loads and unloads the user's background services (launch agents) in the host's record.
//   launchctl bootstrap DOMAIN PLIST ...        load the agents of these property lists ("Label" key)
//   launchctl bootout DOMAIN/LABEL | DOMAIN PLIST ...
//   launchctl list [LABEL]                      the caller's gui domain
//   launchctl remove LABEL                      the caller's gui domain
// DOMAIN is "gui/<uid>", "user/<uid>" or "system". The record is "launchd.json" in the host state folder:
// an object of domains, each an object of labels with the property list they were loaded from.
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/PropertyList.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <unistd.h>

namespace {

QString recordPath() {
    return host::hostStateDirectory() + QStringLiteral("/launchd.json");
}

QJsonObject readRecord() {
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeRecord(const QJsonObject& record) {
    QSaveFile file(recordPath());
    return file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(record).toJson(QJsonDocument::Indented)) >= 0 && file.commit();
}

QString guiDomain() {
    return QStringLiteral("gui/") + QString::number(::getuid());
}

bool isDomain(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^((gui|user)/[0-9]+|system)\\z"));
    return pattern.match(text).hasMatch();
}

void print(const QString& text, FILE* stream = stdout) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int usage() {
    print(QStringLiteral("Usage: launchctl bootstrap|bootout|list|remove ...\n"), stderr);
    return 64;
}

// The label a property list declares, or an empty string.
QString labelOf(const QString& plistPath) {
    const auto plist = host::readPropertyListFile(plistPath);
    return plist ? plist->value(QStringLiteral("Label")).toString() : QString();
}

int bootstrap(const QString& domain, const QStringList& plists) {
    QJsonObject record = readRecord();
    QJsonObject services = record.value(domain).toObject();
    for (const QString& plist : plists) {
        const QString label = labelOf(plist);
        if (label.isEmpty() || services.contains(label)) {
            print(QStringLiteral("Bootstrap failed: 5: Input/output error\n"), stderr);
            return 5;
        }
        services.insert(label, QJsonObject{{QStringLiteral("plist"), plist}});
    }
    record.insert(domain, services);
    return writeRecord(record)
               ? 0
               : (print(QStringLiteral("Bootstrap failed: 5: Input/output error\n"), stderr), 5);
}

int bootout(const QString& domain, const QStringList& labels) {
    QJsonObject record = readRecord();
    QJsonObject services = record.value(domain).toObject();
    for (const QString& label : labels) {
        if (label.isEmpty() || !services.contains(label)) {
            print(QStringLiteral("Boot-out failed: 3: No such process\n"), stderr);
            return 3;
        }
        services.remove(label);
    }
    if (services.isEmpty())
        record.remove(domain);
    else
        record.insert(domain, services);
    return writeRecord(record)
               ? 0
               : (print(QStringLiteral("Boot-out failed: 5: Input/output error\n"), stderr), 5);
}

int couldNotFind(const QString& label) {
    print(QStringLiteral("Could not find service \"%1\" in domain for port\n").arg(label), stderr);
    return 113;
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.isEmpty())
        return usage();
    const QString command = arguments.takeFirst();

    if (command == QLatin1String("bootstrap")) {
        if (arguments.size() < 2 || !isDomain(arguments.first()))
            return usage();
        const QString domain = arguments.takeFirst();
        return bootstrap(domain, arguments);
    }
    if (command == QLatin1String("bootout")) {
        if (arguments.isEmpty())
            return usage();
        const QString target = arguments.takeFirst();
        if (isDomain(target)) {
            QStringList labels;
            for (const QString& plist : arguments)
                labels << labelOf(plist);
            return labels.isEmpty() ? usage() : bootout(target, labels);
        }
        // A service target: DOMAIN/LABEL.
        const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
        if (!arguments.isEmpty() || slash <= 0 || !isDomain(target.left(slash)))
            return usage();
        return bootout(target.left(slash), {target.mid(slash + 1)});
    }
    if (command == QLatin1String("list")) {
        const QJsonObject services = readRecord().value(guiDomain()).toObject();
        if (arguments.size() > 1)
            return usage();
        if (arguments.size() == 1) {
            const QString label = arguments.first();
            if (!services.contains(label))
                return couldNotFind(label);
            print(QStringLiteral("{\n\t\"LimitLoadToSessionType\" = \"Aqua\";\n\t\"Label\" = \"%1\";\n};\n")
                      .arg(label));
            return 0;
        }
        QString table = QStringLiteral("PID\tStatus\tLabel\n");
        for (const QString& label : services.keys())
            table += QStringLiteral("-\t0\t%1\n").arg(label);
        print(table);
        return 0;
    }
    if (command == QLatin1String("remove")) {
        if (arguments.size() != 1)
            return usage();
        const QString label = arguments.first();
        if (!readRecord().value(guiDomain()).toObject().contains(label))
            return couldNotFind(label);
        return bootout(guiDomain(), {label});
    }
    print(QStringLiteral("Unrecognized subcommand: %1\n").arg(command), stderr);
    return usage();
}
