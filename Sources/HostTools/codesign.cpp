// Seals an application bundle and checks its seal:
//   codesign --force --sign <identity> [--identifier <id>] [--options <flags>] [--timestamp=none] <bundle>
//   codesign --verify [--strict] <bundle>
// The seal is a manifest of every file of the bundle (SHA-256 of its bytes and its mode, or a link's target)
// in "Contents/_CodeSignature/CodeResources"; verifying recomputes it, and any added, removed or changed file
// fails.
#include "CorvaneHost/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString sealFolder = QStringLiteral("Contents/_CodeSignature");
const QString sealPath = QStringLiteral("Contents/_CodeSignature/CodeResources");

QString linkTarget(const QString& path) {
    QByteArray buffer(4096, '\0');
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), buffer.data(), buffer.size());
    return length < 0 ? QString() : QFile::decodeName(buffer.left(length));
}

// The SHA-256 of a file's bytes in hex; none when it cannot be read. The launcher inside every bundle is tens
// of megabytes and is hashed at each seal and each check, so this uses the crypto library's digest, which
// runs on the processor's SHA instructions (several times faster than Qt's own).
std::optional<QString> sha256Hex(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buffer(1 << 20);
    while (ok) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count == 0)
            break;
        if (count < 0) {
            ok = errno == EINTR;
            continue;
        }
        ok = EVP_DigestUpdate(context.get(), buffer.data(), size_t(count)) == 1;
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return std::nullopt;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

// Every file of the bundle but the seal itself, by its path inside the bundle; none when one cannot be read.
std::optional<QVariantMap> manifest(const QString& bundle, QTextStream& err) {
    QVariantMap files;
    QDirIterator it(bundle, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(bundle).relativeFilePath(path);
        if (relative == sealFolder || relative.startsWith(sealFolder + QLatin1Char('/')))
            continue;
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            err << "codesign: cannot read " << path << "\n";
            return std::nullopt;
        }
        QVariantMap entry;
        if (S_ISLNK(info.st_mode)) {
            entry.insert(QStringLiteral("symlink"), linkTarget(path));
        } else if (S_ISDIR(info.st_mode)) {
            continue; // folders are sealed through the files they hold
        } else if (S_ISREG(info.st_mode)) {
            const auto hash = sha256Hex(path);
            if (!hash) {
                err << "codesign: cannot read " << path << "\n";
                return std::nullopt;
            }
            entry.insert(QStringLiteral("hash"), *hash);
            entry.insert(QStringLiteral("mode"), qint64(info.st_mode & 07777));
        } else {
            err << "codesign: " << path << ": unsupported file type\n";
            return std::nullopt;
        }
        files.insert(relative, entry);
    }
    return files;
}

int sign(const QString& bundle, const QString& identity, const QString& identifier, const QString& options,
         QTextStream& err) {
    const auto info = host::readBundleInfo(bundle);
    if (!info) {
        err << "codesign: " << bundle << ": bundle format unrecognized, invalid, or unsuitable\n";
        return 1;
    }
    const auto files = manifest(bundle, err);
    if (!files)
        return 1;
    QVariantMap seal;
    seal.insert(QStringLiteral("identifier"),
                identifier.isEmpty() ? info->value(QStringLiteral("CFBundleIdentifier")).toString()
                                     : identifier);
    seal.insert(QStringLiteral("identity"), identity);
    seal.insert(QStringLiteral("options"), options);
    seal.insert(QStringLiteral("files"), *files);
    if (!QDir(bundle).mkpath(sealFolder) ||
        !host::writePropertyListFile(QDir(bundle).filePath(sealPath), seal)) {
        err << "codesign: cannot write the seal of " << bundle << "\n";
        return 1;
    }
    return 0;
}

int verify(const QString& bundle, QTextStream& err) {
    const auto seal = host::readPropertyListFile(QDir(bundle).filePath(sealPath));
    if (!seal) {
        err << bundle << ": code object is not signed at all\n";
        return 1;
    }
    const QVariantMap sealed = seal->value(QStringLiteral("files")).toMap();
    const auto current = manifest(bundle, err);
    if (!current)
        return 1;
    QStringList problems;
    for (auto it = sealed.begin(); it != sealed.end(); ++it) {
        if (!current->contains(it.key()))
            problems << QStringLiteral("file missing: ") + it.key();
        else if (current->value(it.key()) != it.value())
            problems << QStringLiteral("file modified: ") + it.key();
    }
    for (auto it = current->begin(); it != current->end(); ++it)
        if (!sealed.contains(it.key()))
            problems << QStringLiteral("file added: ") + it.key();
    if (problems.isEmpty())
        return 0;
    err << bundle << ": a sealed resource is missing or invalid\n";
    for (const QString& problem : problems)
        err << problem << "\n";
    return 1;
}

int usage(QTextStream& err) {
    err << "usage: codesign --force --sign <identity> [--identifier <id>] [--options <flags>] "
           "[--timestamp=none] <bundle>\n"
           "       codesign --verify [--strict] <bundle>\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = app.arguments().mid(1);
    bool verifying = false;
    QString identity, identifier, options, bundle;
    bool haveIdentity = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--verify") || argument == QLatin1String("-v")) {
            verifying = true;
        } else if (argument == QLatin1String("--force") || argument == QLatin1String("-f") ||
                   argument == QLatin1String("--strict") ||
                   argument.startsWith(QLatin1String("--timestamp"))) {
            continue;
        } else if ((argument == QLatin1String("--sign") || argument == QLatin1String("-s")) && hasValue) {
            identity = arguments[++i];
            haveIdentity = true;
        } else if ((argument == QLatin1String("--identifier") || argument == QLatin1String("-i")) &&
                   hasValue) {
            identifier = arguments[++i];
        } else if ((argument == QLatin1String("--options") || argument == QLatin1String("-o")) && hasValue) {
            options = arguments[++i];
        } else if (argument.startsWith(QLatin1Char('-')) || !bundle.isEmpty()) {
            return usage(err);
        } else {
            bundle = argument;
        }
    }
    if (bundle.isEmpty() || verifying == haveIdentity)
        return usage(err);
    if (!QFileInfo(bundle).isDir()) {
        err << bundle << ": No such file or directory\n";
        return 1;
    }
    return verifying ? verify(bundle, err) : sign(bundle, identity, identifier, options, err);
}
