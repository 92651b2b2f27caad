#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The texts of a job's sample points. Under the login "library" they are two local point files,
// <dir>/jobs/<job> for the tissue points and <dir>/bad_lib/<job> for the blank ones, each a
// head (e-mail line, strain, login) and a line "<slide> <x> <y>" per point, written both or
// neither. For any other login they are the "x,y;" lists that the job request carries.
class JobPointFiles
{
public:
    // What building a job's points did. Under "library" every result but Written leaves no file
    // behind.
    enum class Result {
        Listed,         // another login: the points were appended to the lists
        Written,        // "library": both files written
        NoGrid,         // density below 1: nothing sampled
        TooMany,        // the grid holds too many points: nothing sampled
        NotFileName,    // "library": the job name is not a plain file name
        NotLatin1,      // "library": job name or strain is not Latin-1 text
        NotLatin1Slide, // "library": the slide name is not Latin-1 text
        Exists,         // "library": a file of this job exists already
        NotWritten,     // "library": the files could not be written
    };
    // The warning text for a result that failed; empty for Listed and Written.
    static QString problem(Result result);

    // The directory of the files unless a caller gives another.
    static QString defaultDir();

    // The files of job `jobName` of `login` on `slide`, under `dir`.
    JobPointFiles(const QString& dir, const QString& jobName, const QString& strain, const QString& login,
                  const QString& slide);

    // Why the files cannot be made (a name that is not usable, or a file of the job that exists
    // already); nothing when they can.
    std::optional<Result> check() const;
    // A point's line in the file of its kind: tissue points with six decimals, blank ones with
    // none.
    void add(bool tissue, float x, float y);
    // Both files or neither: false when neither was written, with the file that could not be
    // written and the system's reason in *failure.
    bool write(QString* failure = nullptr) const;

    // A point of another login's lists: "x,y;" with four decimals.
    static void appendListed(QByteArray& out, float x, float y);

private:
    QString jobName;
    QString strain;
    QString slideName;
    QString tissuePath;
    QString blankPath;
    QByteArray tissueText;
    QByteArray blankText;
    QByteArray slide;       // "<slide> ", the start of every point line
};
