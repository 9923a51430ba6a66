// Files a test writes and reads back whole, and the text of a PDF as pdftotext finds it.
#pragma once

#include <QFile>
#include <QProcess>

#include <csignal>

#include <sys/resource.h>

namespace chamber {

// True once the file at path holds text and nothing else.
inline bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// What the file at path holds, or "(missing)" when it cannot be read.
inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Files written from now on may grow to bytes only, as on a full disk: a write past that fails
// with EFBIG (the signal a write past it raises is ignored). 0 lifts the limit again.
inline bool limitFileSize(rlim_t bytes)
{
    static const rlimit unlimited = [] {
        rlimit was{};
        ::getrlimit(RLIMIT_FSIZE, &was);
        std::signal(SIGXFSZ, SIG_IGN);
        return was;
    }();
    const rlimit limit{bytes ? bytes : unlimited.rlim_cur, unlimited.rlim_max};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// The text of a PDF file as pdftotext, run with options, finds it; empty when it finds none.
inline QString pdfText(const QString &pdf, const QStringList &options = {})
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), options + QStringList{pdf, QStringLiteral("-")});
    return pdftotext.waitForFinished(30000) ? QString::fromUtf8(pdftotext.readAllStandardOutput())
                                            : QString();
}

} // namespace chamber
