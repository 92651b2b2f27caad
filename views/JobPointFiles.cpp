#include "JobPointFiles.h"

#include "ServiceConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

static_assert(sizeof(BROLT_JOB_EMAIL) == 17, "the e-mail line of a job file holds 16 characters");

// Appends v in fixed notation with `decimals` (0 to 6) digits after the point, exactly as
// printf's "%.*f" writes it: a float's 24-bit mantissa times 10^6 (below 2^20) fits a double
// exactly, so rounding the product to an integer rounds the exact value, ties to even.
void appendFixed(QByteArray& out, float v, int decimals)
{
    static constexpr double Scale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
    const double scaled = double(v) * Scale[decimals];
    if (!(std::fabs(scaled) < 9e18)) {
        out += QString::asprintf("%.*f", decimals, double(v)).toLatin1();
        return;
    }
    quint64 n = quint64(std::fabs(std::nearbyint(scaled)));
    char text[32];
    char* p = text + sizeof text;
    for (int i = 0; i < decimals; ++i, n /= 10)
        *--p = char('0' + n % 10);
    if (decimals > 0)
        *--p = '.';
    do {
        *--p = char('0' + n % 10);
        n /= 10;
    } while (n);
    if (std::signbit(v))
        *--p = '-';
    out.append(p, text + sizeof text - p);
}

// Not empty, not "." or "..", and nothing that leaves the directory or is a control code.
bool isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    return true;
}

bool isLatin1(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xff; });
}

bool taken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool writeWhole(QSaveFile& file, const QByteArray& bytes)
{
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// "<path>: <the system's reason>".
QString failureOf(const QFileDevice& file)
{
    return file.fileName() + QStringLiteral(": ") + file.errorString();
}

} // namespace

QString JobPointFiles::problem(Result result)
{
    switch (result) {
    case Result::Listed:
    case Result::Written:
        return {};
    case Result::NoGrid:
        return QStringLiteral("The sample density must be at least one per millimetre.");
    case Result::TooMany:
        return QStringLiteral("The rectangle holds too many sampling points.");
    case Result::NotFileName:
        return QStringLiteral("The job name cannot be used as a file name.");
    case Result::NotLatin1:
        return QStringLiteral("The job name and the strain may hold only Latin-1 characters.");
    case Result::NotLatin1Slide:
        return QStringLiteral("The slide name cannot be written to the point files.");
    case Result::Exists:
        return QStringLiteral("A job of this name is waiting already.\nPlease select another job name to try again!");
    case Result::NotWritten:
        return QStringLiteral("The job files could not be written.");
    }
    return {};
}

QString JobPointFiles::defaultDir()
{
    return QStringLiteral(BROLT_JOB_FILES_DIR);
}

JobPointFiles::JobPointFiles(const QString& dir, const QString& job, const QString& strainText,
                             const QString& login, const QString& slideText)
    : jobName(job), strain(strainText), slideName(slideText), tissuePath(dir + QStringLiteral("/jobs/") + job),
      blankPath(dir + QStringLiteral("/bad_lib/") + job)
{
    const QByteArray head = QByteArrayLiteral(BROLT_JOB_EMAIL "\n") + strain.toLatin1() + '\n' + login.toLatin1() + '\n';
    tissueText = blankText = head;
    slide = slideName.toLatin1() + ' ';
}

std::optional<JobPointFiles::Result> JobPointFiles::check() const
{
    if (!isPlainFileName(jobName))
        return Result::NotFileName;
    if (!isLatin1(jobName) || !isLatin1(strain))
        return Result::NotLatin1;
    if (!isLatin1(slideName))
        return Result::NotLatin1Slide;
    if (taken(tissuePath) || taken(blankPath))
        return Result::Exists;
    return std::nullopt;
}

void JobPointFiles::add(bool tissue, float x, float y)
{
    QByteArray& out = tissue ? tissueText : blankText;
    const int decimals = tissue ? 6 : 0;
    out += slide;
    appendFixed(out, x, decimals);
    out += ' ';
    appendFixed(out, y, decimals);
    out += '\n';
}

// Nothing is committed before both are written, and the first is removed again when the second
// cannot be committed.
bool JobPointFiles::write(QString* failure) const
{
    QSaveFile a(tissuePath);
    QSaveFile b(blankPath);
    QSaveFile* failed = nullptr;
    if (!writeWhole(a, tissueText))
        failed = &a;
    else if (!writeWhole(b, blankText))
        failed = &b;
    else if (!a.commit())
        failed = &a;
    else if (!b.commit()) {
        failed = &b;
        QFile::remove(tissuePath);
    }
    if (failed && failure)
        *failure = failureOf(*failed);
    return !failed;
}

void JobPointFiles::appendListed(QByteArray& out, float x, float y)
{
    appendFixed(out, x, 4);
    out += ',';
    appendFixed(out, y, 4);
    out += ';';
}
