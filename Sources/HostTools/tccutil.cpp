// tccutil: withdraws privacy permissions that the user granted, so the system asks again.
//   tccutil reset SERVICE [BUNDLE_ID]
// SERVICE is a permission such as "Accessibility" or "All"; without BUNDLE_ID every program's grant goes.
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"

#include <QRegularExpression>
#include <cstdio>

namespace {

int usage() {
    std::fprintf(stderr, "Usage: tccutil reset SERVICE [BUNDLE_ID]\n");
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || QString::fromLocal8Bit(argv[1]) != QLatin1String("reset"))
        return usage();
    const QString service = QString::fromLocal8Bit(argv[2]);
    const QString bundleID = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
    static const QRegularExpression serviceName(QStringLiteral("^[A-Za-z][A-Za-z0-9]*\\z"));
    if (!serviceName.match(service).hasMatch()) {
        std::fprintf(stderr, "tccutil: Unknown service \"%s\"\n", argv[2]);
        return 64;
    }
    if (argc == 4 && bundleID.isEmpty())
        return usage();
    try {
        host::PrivacyGrants::reset(service, bundleID);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tccutil: Failed to reset %s: %s\n", argv[2], error.what());
        return 70;
    }
    if (bundleID.isEmpty())
        std::printf("Successfully reset %s\n", argv[2]);
    else
        std::printf("Successfully reset %s approval status for %s\n", argv[2], argv[3]);
    return 0;
}
