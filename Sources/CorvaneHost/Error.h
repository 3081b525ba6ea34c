#pragma once

#include <QString>
#include <exception>

namespace host {

// The one base of every error this project throws. Each service derives a small error type of its own
// (a code plus a readable description); callers that only report can catch this base.
class Error : public std::exception {
public:
    explicit Error(QString description)
        : description_(std::move(description))
        , utf8_(description_.toUtf8()) {}
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString description_;
    QByteArray utf8_;
};

// An error of the operating system or of a tool run by the process runner: a domain (for example "Corvane"
// or "NSPOSIXErrorDomain"), a code and a description.
class SystemError : public Error {
public:
    SystemError(QString domain, int code, QString description)
        : Error(std::move(description))
        , domain_(std::move(domain))
        , code_(code) {}
    const QString& domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }

    // Builds the error for the current errno (or the given one), prefixed with what was being done.
    static SystemError fromErrno(const QString& what, int errnoValue);

private:
    QString domain_;
    int code_;
};

// What to tell the user about any exception: a host error's own description, otherwise its what().
inline QString describe(const std::exception& error) {
    if (const auto* hostError = dynamic_cast<const Error*>(&error))
        return hostError->description();
    return QString::fromUtf8(error.what());
}

} // namespace host
