// "Stack Info": the user's jobs and the library's slides, and loading the slide of an entry.
#include "Session.h"

#include "JobReplies.h"
#include "Url.h"

#include <QListWidget>

#include <algorithm>
#include <optional>

namespace {

// Names from the host go back in requests exactly as received; one that does not survive the
// round trip through the request's UTF-8 would name something else.
std::optional<QString> hostName(const QByteArray& bytes)
{
    const QString name = QString::fromUtf8(bytes);
    if (name.toUtf8() != bytes)
        return std::nullopt;
    return name;
}

void askForJob(Session* s, const QString& job)
{
    s->highRes->jobId = job;
    s->jobConn.setUrl(Url(s->si.host).field(QStringLiteral("/cgi-bin/icount?f=jl&j="), job).raw(QStringLiteral("&c=1")));
    s->jobConn.fetch();
}

} // namespace

void Session::handleDisplayLib()
{
    // The label, the view's mode and the entries shown change together, or not at all.
    if (jobListConn.isBusy())
        return;
    jobLabel->setText(QStringLiteral("Celloidin ID"));
    highRes->slideListMode = true;
    highRes->jobListMode = false;
    joblistBox->clear();
    jobListConn.setUrl(Url(si.host).raw(QStringLiteral("/cgi-bin/icount?f=ja&c=2")));
    jobListConn.fetch();
}

void Session::handleDisplayJob()
{
    if (jobListConn.isBusy())
        return;
    jobLabel->setText(QStringLiteral("Job List"));
    highRes->jobListMode = true;
    highRes->slideListMode = false;
    joblistBox->clear();
    jobListConn.setUrl(Url(si.host).field(QStringLiteral("/cgi-bin/icount?f=ju&l="), si.login));
    jobListConn.fetch();
}

void Session::handleJobListBox(QListWidgetItem* item)
{
    if (!item)
        return;
    if (highRes->slideListMode) {
        curSlide = item->text();
        lowRes->slideChange(curSlide);
        highRes->slideChange(curSlide);
        handleJobReset();
    }
    if (highRes->jobListMode) {
        // While a job's slide is being asked for, displayJob() asks for the entry current then.
        if (jobConn.isBusy())
            return;
        askForJob(this, item->text());
    }
}

void Session::displayJobList()
{
    jobList.clear();
    if (!jobListConn.succeeded()) {
        joblistBox->clear();
        sysInfoBox->append(QStringLiteral("***Error fetching the list from the server.\n"));
        return;
    }
    const QByteArray reply = jobListConn.reply();
    for (const QByteArray& entry : parseListReply(reply.constData(), int(reply.size())))
        if (const auto name = hostName(entry))
            jobList.append(*name);
    std::stable_sort(jobList.begin(), jobList.end(),
                     [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
    joblistBox->clear();
    for (const QString& entry : jobList)
        joblistBox->addItem(entry);
}

void Session::displayJob()
{
    // A later pick made while this reply was on its way wins.
    const QListWidgetItem* current = joblistBox->currentItem();
    if (highRes->jobListMode && current && current->text() != highRes->jobId) {
        askForJob(this, current->text());
        return;
    }
    const QByteArray reply = jobConn.reply();
    const auto slide = jobConn.succeeded() ? hostName(parseJobSlide(reply.constData(), int(reply.size())))
                                           : std::nullopt;
    if (!slide || slide->isEmpty()) {
        sysInfoBox->append(QStringLiteral("***Error fetching the slide of the job from the server.\n"));
        return;
    }
    curSlide = *slide;
    lowRes->slideChange(curSlide);
    highRes->slideChange(curSlide);
    handleJobReset();
}

void Session::handleSlideButton()
{
    if (si.scope.slides.isEmpty())
        return;
    curSlide = si.scope.slides.first();
    lowRes->slideChange(curSlide);
    highRes->slideChange(curSlide);
}
