#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QProgressBar;

// One HTTP GET at a time; the reply body is gathered in a buffer owned by the object.
class MyHTTP : public QObject
{
    Q_OBJECT
public:
    // Final states of a transfer.
    enum State { StWaiting = 0, StInProgress = 1, StDone = 2, StFailed = 3, StStopped = 4 };

    // Largest reply body kept; a longer one ends the transfer as failed.
    static constexpr int MaxReply = 64 * 1024 * 1024;

    MyHTTP();
    ~MyHTTP() override;

    void setUrl(QString url);
    void fetch();
    // Abandons a running transfer: it reports nothing, and the object is idle at once.
    void abandon();

    // The received bytes; one byte after them is always free for a terminating NUL.
    char* data() { return buffer; }
    int length() const { return m_length; }
    bool isBusy() const { return busy; }
    bool succeeded() const { return state == StDone; }
    int finalState() const { return state; }
    // The HTTP status and reason phrase of the last transfer's answer: 0 and empty when no answer
    // came. The phrase is the host's text, cut to MaxReason printable characters.
    int httpStatus() const { return status; }
    QString httpReason() const { return reason; }
    static constexpr int MaxReason = 80;
    int bufferCapacity() const { return capacity; }

    // A buffer grown past this for a large reply is given back by trimBuffer(). One of this size
    // is kept: given back and grown again for every reply (video frames, tiles), it would
    // scatter the heap with more than it saves.
    static constexpr int KeptCapacity = 16 * 1024 * 1024;
    // Gives back a buffer grown past KeptCapacity, with the last reply's bytes (length() is
    // then 0), so that a large reply holds no memory until the object's next transfer. Does
    // nothing while a transfer runs. For owners that read the reply only inside done().
    void trimBuffer();

    // The received bytes as a NUL-terminated copy: what reply parsers read.
    QByteArray reply() const { return QByteArray(buffer, m_length); }

    // Appends one chunk of body bytes (also used by the transfer itself).
    void appendChunk(const char* chunk, int n);

    // The one network access manager of the process.
    static QNetworkAccessManager* manager();

signals:
    void done(int id);
    void done();
    void progress(int done, int total);

private slots:
    void opComplete();
    void getData();
    void updateProgress(qint64 bytesDone, qint64 bytesTotal);

private:
    void release();
    // Room for n more bytes and the NUL after them; null, and the reply overflows, beyond
    // MaxReply.
    char* room(int n);
    void readAvailable(QNetworkReply* r);
    static bool redirectAnswer(QNetworkReply* r);
    void finish(int finalState);
    void readStatus(QNetworkReply* r);

    int id = -1;
    quint64 fetches = 0;          // transfers started, so a late failure finds its own
    QPointer<QNetworkReply> op;
    char* buffer = nullptr;
    int capacity = 0;
    int m_length = 0;
    bool busy = false;
    bool showProgress = false;
    QProgressBar* progressBar = nullptr;
    int state = StWaiting;
    int status = 0;
    QString reason;

    QUrl url;
    bool haveUrl = false;
    bool urlValid = false;
    bool overflow = false;
};
