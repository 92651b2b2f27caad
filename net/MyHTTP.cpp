#include "MyHTTP.h"
#include "ReplyText.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// "http://" + host[:port] + "/...": a host name, an IPv4 address or a bracketed IPv6
// address, an optional port 1-65535, then the path. Anything else is never sent.
bool acceptableUrl(const QString& text, QUrl* out)
{
    static const QRegularExpression form(QStringLiteral(
        "^http://([A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?)*"
        "|\\[[0-9A-Fa-f:.]+\\])(?::([0-9]{1,5}))?(/[\\x21-\\x7e]*)$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    if (m.capturedLength(2)) {
        const int port = m.captured(2).toInt();
        if (port < 1 || port > 65535)
            return false;
    }
    const QUrl u = QUrl::fromEncoded(text.toLatin1(), QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty())
        return false;
    *out = u;
    return true;
}

} // namespace

QNetworkAccessManager* MyHTTP::manager()
{
    // Made on first use and kept until the process ends: tearing it down at exit would race
    // its own network thread for the objects that thread still holds.
    static QNetworkAccessManager* const nam = [] {
        auto* m = new QNetworkAccessManager;
        m->setProxy(QNetworkProxy::NoProxy);
        m->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
        return m;
    }();
    return nam;
}

MyHTTP::MyHTTP()
{
    capacity = 256;
    buffer = static_cast<char*>(std::malloc(capacity));
    if (!buffer)
        throw std::bad_alloc();
    buffer[0] = 0;
}

MyHTTP::~MyHTTP()
{
    release();
    std::free(buffer);
}

void MyHTTP::release()
{
    if (QNetworkReply* r = op) {
        op = nullptr;
        r->disconnect(this);          // an abandoned transfer reports nothing
        if (r->isRunning())
            r->abort();
        r->deleteLater();             // may be inside its own finished(): never delete now
    }
}

void MyHTTP::abandon()
{
    if (!busy)
        return;
    release();
    busy = false;
    state = StStopped;
}

void MyHTTP::setUrl(QString text)
{
    if (busy)
        return;
    release();
    haveUrl = true;
    urlValid = acceptableUrl(text, &url);
}

void MyHTTP::fetch()
{
    if (busy || !haveUrl)
        return;
    release();
    m_length = 0;
    buffer[0] = 0;
    overflow = false;
    status = 0;
    reason.clear();
    busy = true;
    state = StInProgress;
    if (!urlValid) {
        // A URL that cannot be sent fails like a transfer that could not connect.
        const quint64 mine = ++fetches;
        QTimer::singleShot(0, this, [this, mine] { if (busy && !op && fetches == mine) finish(StFailed); });
        return;
    }
    QNetworkRequest rq(url);
    // A redirect is followed on the same host and port only; any other fails the transfer.
    rq.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    rq.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    rq.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    rq.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    rq.setRawHeader("Connection", "close");
    QNetworkReply* r = manager()->get(rq);
    op = r;
    connect(r, &QNetworkReply::readyRead, this, &MyHTTP::getData);
    connect(r, &QNetworkReply::downloadProgress, this, &MyHTTP::updateProgress);
    connect(r, &QNetworkReply::finished, this, &MyHTTP::opComplete);
}

void MyHTTP::trimBuffer()
{
    if (busy || capacity <= KeptCapacity)
        return;
    char* small = static_cast<char*>(std::malloc(256));
    if (!small)
        return;
    std::free(buffer);
    buffer = small;
    capacity = 256;
    m_length = 0;
    buffer[0] = 0;
}

char* MyHTTP::room(int n)
{
    if (overflow || qint64(m_length) + n >= MaxReply) {
        overflow = true;
        return nullptr;
    }
    if (m_length + n + 1 > capacity) {
        const int grown = capacity + n + 25;
        char* p = static_cast<char*>(std::realloc(buffer, grown));
        if (!p) {
            overflow = true;
            return nullptr;
        }
        buffer = p;
        capacity = grown;
    }
    return buffer + m_length;
}

void MyHTTP::appendChunk(const char* chunk, int n)
{
    if (n <= 0)
        return;
    char* to = room(n);
    if (!to)
        return;
    std::memcpy(to, chunk, n);
    m_length += n;
    buffer[m_length] = 0;
}

bool MyHTTP::redirectAnswer(QNetworkReply* r)
{
    const int code = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return code >= 300 && code <= 399;
}

void MyHTTP::readAvailable(QNetworkReply* r)
{
    // The page of a redirect is never the reply: a redirect followed brings its target's body,
    // and one not followed fails.
    if (redirectAnswer(r)) {
        while (r->bytesAvailable() > 0 && r->skip(r->bytesAvailable()) > 0) {
        }
        return;
    }
    // Straight into the buffer: a large reply is not copied once more on its way.
    for (qint64 n; (n = r->bytesAvailable()) > 0;) {
        char* to = room(int(std::min<qint64>(n, MaxReply)));
        if (!to)
            return;
        const qint64 got = r->read(to, std::min<qint64>(n, MaxReply));
        if (got <= 0)
            return;
        m_length += int(got);
        buffer[m_length] = 0;
    }
}

void MyHTTP::getData()
{
    if (!op)
        return;
    readAvailable(op);
    if (overflow) {
        // Too large: stop the transfer now and report it as failed.
        QNetworkReply* r = op;
        op = nullptr;
        readStatus(r);
        r->disconnect(this);
        r->abort();
        r->deleteLater();
        finish(StFailed);
    }
}

void MyHTTP::opComplete()
{
    QNetworkReply* r = op;
    if (!r)
        return;
    readAvailable(r);
    readStatus(r);
    int st;
    if (r->error() == QNetworkReply::OperationCanceledError)
        st = StStopped;
    else if (overflow || r->error() != QNetworkReply::NoError || (status >= 300 && status <= 599))
        st = StFailed;   // no connection, a redirect not followed, an HTTP error status, or a body cut short
    else
        st = StDone;
    // The reply stays the current operation until the next setUrl/fetch, which releases it
    // with deleteLater(), so a handler may start the next request from inside done().
    finish(st);
}

void MyHTTP::readStatus(QNetworkReply* r)
{
    status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Qt gives the phrase's bytes as Latin-1 text.
    reason = r->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().left(MaxReason);
    for (QChar& c : reason)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0) || c.unicode() > 0xff)
            c = QLatin1Char('?');
    reason = reason.trimmed();
}

void MyHTTP::finish(int finalState)
{
    busy = false;
    state = finalState;
    emit done(id);
    emit done();
}

void MyHTTP::updateProgress(qint64 bytesDone, qint64 bytesTotal)
{
    if (showProgress && progressBar) {
        if (progressBar->maximum() != bytesTotal)
            progressBar->setMaximum(int(bytesTotal));
        progressBar->setValue(int(bytesDone));
    }
    emit progress(int(bytesDone), int(bytesTotal));
}

// Defined here so the reply reader itself depends on nothing but its bytes.
ReplyText::ReplyText(MyHTTP* http) : b(http->reply()) {}
