#include "ScopeBrowser.h"

#include "Alerts.h"
#include "Clock.h"
#include "HostBytes.h"
#include "MyHTTP.h"
#include "ReplyText.h"
#include "Replies.h"
#include "ReserveTimeWin.h"
#include "ScopeList.h"
#include "ServiceConfig.h"
#include "Url.h"

#include <QKeyEvent>
#include <QPointer>

namespace {

QString signUpLines()
{
    return QStringLiteral("\n\nTo sign up for a free account, please visit the\nKelvry website at ")
        + QStringLiteral(BROLT_WEBSITE);
}

} // namespace

ScopeBrowser::ScopeBrowser(QWidget* parent, const char* name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setModal(modal);
    setupUi(this);
    languageChange();
    resize(QSize(762, 434).expandedTo(minimumSizeHint()));

    connect(beginButton, &QPushButton::clicked, this, &ScopeBrowser::startsession);
    connect(scopeListBox, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int row = scopeListBox->row(item);
        describeScope(row);
        updateControlButton();
    });
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);
    connect(connectToServer, &QPushButton::clicked, this, &ScopeBrowser::connectBtn_clicked);
    connect(schedButton, &QPushButton::clicked, this, &ScopeBrowser::schedButton_clicked);
    connect(reserveButton, &QPushButton::clicked, this, &ScopeBrowser::getSticket);
    connect(scopeListBox, &QListWidget::currentRowChanged, this, &ScopeBrowser::describeScope);
    connect(scopeListBox, &QListWidget::currentRowChanged, this, &ScopeBrowser::updateControlButton);
    // Return on a row activates it; it must not also press the default button.
    scopeListBox->installEventFilter(this);

    init();
}

ScopeBrowser::~ScopeBrowser()
{
    destroy();
}

void ScopeBrowser::languageChange()
{
    retranslateUi(this);
    loginBox->clear();
    passwordBox->clear();
    bannerBox->clear();
    hostName->setText(QStringLiteral(BROLT_DEFAULT_HOST));
}

void ScopeBrowser::init()
{
    listConn = new MyHTTP;
    ticketConn = new MyHTTP;
    checkAuthConn = new MyHTTP;
    reserveConn = new MyHTTP;
    timersConn = new MyHTTP;
    sticketConn = new MyHTTP;
    cckConn = new MyHTTP;

    connect(listConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::updateList);
    connect(ticketConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::authOrNot);
    connect(checkAuthConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::checkAuthResponse);
    connect(reserveConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::reserveNowResponse);
    connect(timersConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::parseTimersResponse);
    connect(sticketConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::gotSticket);
    connect(cckConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::openResWin);

    // The watch compares whole seconds, so keep its ticks close to one second apart.
    watchTimer.setTimerType(Qt::PreciseTimer);
    connect(&watchTimer, &QTimer::timeout, this, &ScopeBrowser::tickTock);

    keepSelection = false;
    firstConnect = true;
}

void ScopeBrowser::destroy()
{
    delete ticketConn;
    delete checkAuthConn;
    delete reserveConn;
    delete listConn;
    delete sticketConn;
    delete timersConn;
    delete cckConn;
    ticketConn = checkAuthConn = reserveConn = listConn = sticketConn = timersConn = cckConn = nullptr;
}

bool ScopeBrowser::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == scopeListBox && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QListWidgetItem* item = scopeListBox->currentItem())
                emit scopeListBox->itemActivated(item);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ScopeBrowser::setAppRef(QApplication* app)
{
    appRef = app;
}

void ScopeBrowser::ScopeBrowser_destroyed(QObject*)
{
}

bool ScopeBrowser::checkInfo()
{
    QString message = QStringLiteral("Please provide a ");
    int gaps = 0;
    if (loginBox->text().isEmpty()) {
        message += QStringLiteral("login name");
        ++gaps;
    }
    if (passwordBox->text().isEmpty()) {
        message += gaps ? QStringLiteral(" and password!") : QStringLiteral("password!");
        ++gaps;
    }
    if (!gaps)
        return true;
    if (firstConnect)
        message += signUpLines();
    Alerts::warning(this, QStringLiteral("Info Entry Problem"), message);
    return false;
}

bool ScopeBrowser::checkHTTP(MyHTTP* request)
{
    if (request->succeeded())
        return true;
    Alerts::warning(this, QStringLiteral("Connection Failure"),
                    QStringLiteral("Error connecting to the Kelvry server.\n"
                                   "Please contact the server administrator. (file scpbrwsr)"));
    return false;
}

const ScopeRecord* ScopeBrowser::currentRecord() const
{
    const int row = scopeListBox->currentRow();
    return row >= 0 && row < scopes.size() ? &scopes[row] : nullptr;
}

// ---- log-in check and microscope list ----

void ScopeBrowser::connectBtn_clicked()
{
    if (firstConnect) {
        if (checkInfo())
            checkAuth();
    } else {
        refreshList(true);
    }
}

void ScopeBrowser::checkAuth()
{
    auth.setKey(passwordBox->text());
    if (checkAuthConn->isBusy())
        return;
    checkAuthConn->setUrl(Url(hostName->text())
                              .raw(QStringLiteral("/cgi-bin/iserv?f=checkauth"))
                              .field(QStringLiteral("&l="), loginBox->text())
                              .raw(QStringLiteral("&auth=") + auth.loginString()));
    checkAuthConn->fetch();
}

void ScopeBrowser::checkAuthResponse()
{
    if (!checkHTTP(checkAuthConn))
        return;
    if (ReplyText(checkAuthConn).startsWith('+'))
        refreshList(false);
    else
        Alerts::warning(this, QStringLiteral("Authentication Failed"),
                        QStringLiteral("The server rejected your username and password.") + signUpLines());
}

void ScopeBrowser::refreshList(bool keep)
{
    // A list already on its way keeps the row it is to select again: the list has been
    // cleared meanwhile, so the current row would read as none.
    if (listConn->isBusy())
        return;
    keepSelection = keep;
    selectedIndex = scopeListBox->currentRow();
    const ScopeRecord* current = currentRecord();
    selectedName = current ? std::optional<QByteArray>(current->wireName) : std::nullopt;
    fetchScopeList();
}

void ScopeBrowser::fetchScopeList()
{
    if (listConn->isBusy())
        return;
    scopeListBox->clear();
    slideList->clear();
    descriptionBox->clear();
    reserveButton->setEnabled(false);
    schedButton->setEnabled(false);
    scopes.clear();
    listConn->setUrl(Url(hostName->text()).raw(QStringLiteral("/cgi-bin/iserv?f=i")));
    connectionStatus->setText(QStringLiteral("Connecting..."));
    listing = true;
    listConn->fetch();
}

void ScopeBrowser::updateList()
{
    if (!listConn->succeeded()) {
        hostName->selectAll();
        connectionStatus->setText(QStringLiteral("Connection Failed."));
        Alerts::warning(this, QStringLiteral("Connection Failed"),
                        QStringLiteral("No Kelvry server could be found at the given hostname"));
        return;
    }
    connectionStatus->setText(QStringLiteral("Connection Successful"));
    connectToServer->setText(QStringLiteral("Refresh"));

    const ScopeList list = parseScopeList(listConn->data(), listConn->length());
    scopeListBox->clear();
    bannerBox->setHostText(list.banner);
    for (const ScopeRecord& rec : list.records) {
        scopeListBox->addItem(rec.name);
        scopes.append(rec);
        // Every list may bring new microscopes; entries are matched by name, never by row.
        ensureEntry(rec.name, rec.wireName);
    }

    if (keepSelection) {
        listing = false;
        scopeListBox->setCurrentRow(rowToKeep());
        keepSelection = false;
        schedButton->setEnabled(true);
    } else if (scopeListBox->count() > 0) {
        listing = false;
        scopeListBox->setCurrentRow(0);
        schedButton->setEnabled(true);
    }

    if (firstConnect) {
        initTimers();
        firstConnect = false;
    }
}

void ScopeBrowser::describeScope(int row)
{
    if (row < 0 || row >= scopes.size() || listing)
        return;
    const ScopeRecord& rec = scopes[row];
    reserveButton->setEnabled(rec.reservable);
    descriptionBox->setHostHtml(rec.description);
    slideList->clear();
    slideList->addItems(rec.slides);
}

// The row of the microscope that was current before the refresh, wherever the new list has put
// it; the same row as before when that microscope is no longer listed.
int ScopeBrowser::rowToKeep() const
{
    if (!selectedName)
        return selectedIndex;
    if (selectedIndex >= 0 && selectedIndex < scopes.size() && scopes[selectedIndex].wireName == *selectedName)
        return selectedIndex;
    for (int i = 0; i < scopes.size(); ++i)
        if (scopes[i].wireName == *selectedName)
            return i;
    return selectedIndex;
}

// ---- reservation watch ----

ScopeTimer* ScopeBrowser::entry(const QString& scopeName)
{
    const auto it = timerIndexOf.constFind(scopeName);
    return it == timerIndexOf.constEnd() ? nullptr : &timers[*it];
}

const ScopeTimer* ScopeBrowser::timerFor(const QString& scopeName) const
{
    const auto it = timerIndexOf.constFind(scopeName);
    return it == timerIndexOf.constEnd() ? nullptr : &timers[*it];
}

ScopeTimer& ScopeBrowser::ensureEntry(const QString& scopeName, const QByteArray& wireName)
{
    if (ScopeTimer* t = entry(scopeName)) {
        if (!wireName.isEmpty())
            t->wireName = wireName;
        return *t;
    }
    ScopeTimer t;
    t.name = scopeName;
    t.wireName = wireName.isEmpty() ? scopeName.toUtf8() : wireName;
    timerIndexOf.insert(scopeName, int(timers.size()));
    timers.append(t);
    return timers.last();
}

void ScopeBrowser::addScopeTimer(char* name)
{
    const QByteArray wire(name);
    ensureEntry(HostBytes::shown(wire), wire);
}

void ScopeBrowser::updateScopeTimers()
{
    for (const ScopeRecord& rec : scopes)
        ensureEntry(rec.name, rec.wireName);
}

void ScopeBrowser::initTimers()
{
    timerIndex = 0;
    sweeping = true;
    checkSchedEntries();
}

void ScopeBrowser::checkSchedEntries()
{
    if (timers.isEmpty() || timerIndex < 0 || timerIndex >= timers.size()) {
        sweeping = false;
        return;
    }
    timersConn->setUrl(Url(hostName->text())
                           .raw(QStringLiteral("/cgi-bin/iserv?f=cwt"))
                           .field(QStringLiteral("&l="), loginBox->text())
                           .field(QStringLiteral("&s="), timers[timerIndex].wireName));
    timersConn->fetch();
    if (!watchTimer.isActive())
        watchTimer.start(1000);
}

void ScopeBrowser::parseTimersResponse()
{
    QPointer<ScopeBrowser> self(this);
    const bool ok = checkHTTP(timersConn);
    if (!self)
        return;
    if (ok && timerIndex >= 0 && timerIndex < timers.size()) {
        const qint64 now = Clock::now();
        // A reply without both numbers leaves the entry as it is.
        if (const auto window = parseControlWindow(timersConn->data(), timersConn->length())) {
            ScopeTimer& t = timers[timerIndex];
            t.setWindow(now + window->first, now + window->first + window->second);
            if (t.start < now && now < t.end) {
                // Already running: active at once, with no late announcement.
                t.active = true;
                t.announced = true;
                updateControlButton();
            }
        }
    }
    if (timerIndex < timers.size() - 1) {
        ++timerIndex;
        checkSchedEntries();
    } else {
        sweeping = false;
    }
}

void ScopeBrowser::tickTock()
{
    if (!timers.isEmpty())
        updateScopeControlEnablers();
}

void ScopeBrowser::updateScopeControlEnablers()
{
    updateScopeTimers();
    QPointer<ScopeBrowser> self(this);
    qint64 now = Clock::now();
    // Events fire once when their second has been reached or passed, so a late or skipped tick
    // neither loses nor repeats one. Boxes run nested event loops in which further ticks arrive:
    // the flags are set before a box opens, and "now" is read afresh after it closes.
    for (int i = 0; i < timers.size(); ++i) {
        ScopeTimer& t = timers[i];
        const bool started = t.start != -1 && t.start <= now;
        const bool over = t.end != -1 && now >= t.end;
        if (!t.announced && started && !over) {
            t.announced = true;
            t.active = true;
            const QString name = t.name;
            updateControlButton();
            Alerts::beep();
            if (!Alerts::information(this, QStringLiteral("Control Message"),
                                     QStringLiteral("\nYou can now control the microscope: ") + name)
                || !self)
                return;
            refreshList(true);
            now = Clock::now();
        } else if (!t.ended && t.end != -1 && over) {
            t.ended = true;
            t.announced = true;
            t.active = false;
            // A booking that waited behind this window becomes the stored one; a later tick
            // announces it.
            if (!t.later.isEmpty()) {
                const auto next = t.later.takeFirst();
                t.setWindow(next.first, next.second);
            }
            updateControlButton();
            refreshList(true);
        }
    }
}

void ScopeBrowser::updateControlButton()
{
    if (scopeListBox->count() == 0)
        return;
    const ScopeRecord* rec = currentRecord();
    if (!rec)
        return;
    const ScopeTimer* t = timerFor(rec->name);
    beginButton->setEnabled(t && t->active);
}

void ScopeBrowser::startSchedTimer(long wait, long length)
{
    if (const ScopeRecord* rec = currentRecord())
        startSchedTimerFor(rec->name, wait, length);
}

void ScopeBrowser::startSchedTimerFor(const QString& scopeName, qint64 wait, qint64 length)
{
    const qint64 now = Clock::now();
    const qint64 start = now + wait;
    ScopeTimer& t = ensureEntry(scopeName);
    // A window that has ended is replaced too; a booking that begins after a window still to
    // run waits behind it. Neither is lost.
    const bool stale = t.end != -1 && t.end <= now;
    if (t.start == -1 || start < t.start || stale) {
        // An earlier booking puts a window still to come behind it.
        if (t.start != -1 && !stale)
            t.queue(t.start, t.end);
        timingHelperFor(scopeName, now, start, start + length);
    } else {
        t.queue(start, start + length);
    }
}

void ScopeBrowser::timingHelper(long now, long start, long end)
{
    if (const ScopeRecord* rec = currentRecord())
        timingHelperFor(rec->name, now, start, end);
}

void ScopeBrowser::timingHelperFor(const QString& scopeName, qint64 now, qint64 start, qint64 end)
{
    if (!watchTimer.isActive())
        watchTimer.start(1000);
    ScopeTimer& t = ensureEntry(scopeName);
    t.setWindow(start, end);
    // A later start leaves any time the user holds now as it is; the tick announces the booking.
    if (start > now)
        return;
    t.active = true;
    t.announced = true;
    updateControlButton();
    refreshList(true);
}

// ---- flows built with the reservation and scheduling dialogs ----

void ScopeBrowser::startsession() {}
void ScopeBrowser::authOrNot() {}
void ScopeBrowser::reserveNow() {}
void ScopeBrowser::reserveNowResponse() {}
void ScopeBrowser::getSticket() {}
void ScopeBrowser::gotSticket() {}

// ---- scheduling dialog ----

void ScopeBrowser::schedButton_clicked()
{
    if (!checkInfo())
        return;
    const ScopeRecord* current = currentRecord();
    if (!current)
        return;
    // The dialog is for the microscope selected now and opens with what the user had entered,
    // whatever the list and the fields show when the clock arrives.
    const SchedRequest request{*current, hostName->text(), loginBox->text(), passwordBox->text()};
    const ScopeRecord& rec = request.record;
    if (!Alerts::information(this, QStringLiteral("Kelvry Control Time"),
                             QStringLiteral("You can control the selected microscope \"") + rec.name
                                 + QStringLiteral("\" for ") + rec.maxMinutesText
                                 + QStringLiteral(" minutes maximum.")))
        return;
    if (cckConn->isBusy())
        return;                 // dropped, like any request on a busy object
    schedRequest = request;
    cckConn->setUrl(Url(schedRequest->host)
                        .raw(QStringLiteral("/cgi-bin/iserv?f=cck"))
                        .field(QStringLiteral("&s="), rec.wireName)
                        .field(QStringLiteral("&l="), schedRequest->login));
    cckConn->fetch();
}

void ScopeBrowser::openResWin()
{
    if (!schedRequest || !checkHTTP(cckConn))
        return;
    // Without the server's time every booking would go to a wrong start: open no dialog.
    const auto serverTime = ReplyText(cckConn).scan().decimal();
    if (!serverTime) {
        Alerts::warning(this, QStringLiteral("Connection Failure"),
                        QStringLiteral("Error connecting to the Kelvry server.\n"
                                       "Please contact the server administrator. (file scpbrwsr)"));
        return;
    }
    const SchedRequest request = *schedRequest;
    const ScopeRecord& rec = request.record;
    auto* win = new ReserveTimeWin(nullptr, nullptr, false, {});
    win->setInfo(request.host, rec.wireName, request.login, request.password, rec.maxMinutes, *serverTime);
    // Each booking is for this dialog's microscope, whichever row is current when it is made.
    const QString scopeName = rec.name;
    connect(win, &ReserveTimeWin::schedDone, this, [this, scopeName](long wait, long length) {
        startSchedTimerFor(scopeName, wait, length);
    });
    win->show();
    win->refreshBtn_clicked();
}
