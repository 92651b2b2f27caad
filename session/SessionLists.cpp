// "Stack Info": the user's jobs and the library's slides, and loading the slide of an entry.
#include "Session.h"

#include "HostBytes.h"
#include "JobReplies.h"
#include "Url.h"

#include <QListWidget>

#include <algorithm>

namespace {

// Each entry keeps the bytes the host named it with; those go back in requests.
QByteArray wireOf(const QListWidgetItem* item)
{
    return item->data(Qt::UserRole).toByteArray();
}

void askForJob(Session* s, const QByteArray& job)
{
    s->askedJob = job;
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
        showSlide(wireOf(item));
        handleJobReset();
    }
    if (highRes->jobListMode) {
        // While a job's slide is being asked for, displayJob() asks for the entry current then.
        if (jobConn.isBusy())
            return;
        askForJob(this, wireOf(item));
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
    QList<QPair<QString, QByteArray>> entries;
    for (const QByteArray& entry : parseListReply(jobListConn.data(), jobListConn.length()))
        entries.append({HostBytes::shown(entry), entry});
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return QString::localeAwareCompare(a.first, b.first) < 0;
    });
    joblistBox->clear();
    for (const auto& [shown, wire] : entries) {
        jobList.append(shown);
        auto* item = new QListWidgetItem(shown);
        item->setData(Qt::UserRole, wire);
        joblistBox->addItem(item);
    }
}

void Session::displayJob()
{
    // Used only while the job list is shown and the job is still its current entry; a later
    // pick of another job made while this reply was on its way is asked for now.
    const QListWidgetItem* current = joblistBox->currentItem();
    if (!highRes->jobListMode || !current)
        return;
    if (wireOf(current) != askedJob) {
        askForJob(this, wireOf(current));
        return;
    }
    const QByteArray slide = jobConn.succeeded() ? parseJobSlide(jobConn.data(), jobConn.length()) : QByteArray();
    if (slide.isEmpty()) {
        sysInfoBox->append(QStringLiteral("***Error fetching the slide of the job from the server.\n"));
        return;
    }
    // The view draws the job's dots from now on, and on this slide only.
    highRes->jobId = askedJob;
    highRes->jobSlide = slide;
    showSlide(slide);
    handleJobReset();
}

void Session::handleSlideButton()
{
    if (si.scope.wireSlides.isEmpty())
        return;
    showSlide(si.scope.wireSlides.first());
}

void Session::showSlide(const QByteArray& wireSlide)
{
    curSlide = HostBytes::shown(wireSlide);
    curSlideWire = wireSlide;
    lowRes->slideChange(wireSlide);
    highRes->slideChange(wireSlide);
}
