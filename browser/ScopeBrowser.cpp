#include "ScopeBrowser.h"

#include "Alerts.h"
#include "Clock.h"
#include "HostBytes.h"
#include "MyHTTP.h"
#include "Replies.h"
#include "ReserveTimeWin.h"
#include "ScopeList.h"
#include "ServiceConfig.h"
#include "Url.h"

#include <QKeyEvent>
#include <QPointer>

namespace {

ScopeBrowser::SessionOpener& sessionOpener()
{
    static ScopeBrowser::SessionOpener opener;
    return opener;
}

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

ScopeBrowser::~ScopeBrowser() = default;

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
    connect(&listConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::updateList);
    connect(&ticketConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::authOrNot);
    connect(&checkAuthConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::checkAuthResponse);
    connect(&reserveConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::reserveNowResponse);
    connect(&timersConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::parseTimersResponse);
    connect(&sticketConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::gotSticket);
    connect(&cckConn, qOverload<>(&MyHTTP::done), this, &ScopeBrowser::openResWin);

    // The watch compares whole seconds, so keep its ticks close to one second apart.
    watchTimer.setTimerType(Qt::PreciseTimer);
    connect(&watchTimer, &QTimer::timeout, this, &ScopeBrowser::tickTock);

    keepSelection = false;
    firstConnect = true;
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
    warn(QStringLiteral("Info Entry Problem"), message);
    return false;
}

bool ScopeBrowser::checkHTTP(MyHTTP* request)
{
    if (request->succeeded())
        return true;
    warn(QStringLiteral("Connection Failure"),
         QStringLiteral("Error connecting to the Kelvry server.\n"
                        "Please contact the server administrator. (file scpbrwsr)"));
    return false;
}

const ScopeRecord* ScopeBrowser::currentRecord() const
{
    const int row = scopeListBox->currentRow();
    return row >= 0 && row < scopes.size() ? &scopes[row] : nullptr;
}

std::optional<ScopeBrowser::Asked> ScopeBrowser::askedNow() const
{
    const ScopeRecord* rec = currentRecord();
    if (!rec)
        return std::nullopt;
    return Asked{*rec, hostName->text(), loginBox->text(), passwordBox->text()};
}

bool ScopeBrowser::warn(const QString& caption, const QString& text)
{
    return showBox(true, caption, text);
}

bool ScopeBrowser::inform(const QString& caption, const QString& text)
{
    return showBox(false, caption, text);
}

bool ScopeBrowser::showBox(bool warning, const QString& caption, const QString& text)
{
    ++boxesOpen;
    const bool alive = warning ? Alerts::warning(this, caption, text) : Alerts::information(this, caption, text);
    if (!alive)
        return false;           // destroyed under the box: touch nothing
    --boxesOpen;
    if (ending) {
        if (boxesOpen == 0)
            deleteLater();
        return false;
    }
    return true;
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
    if (checkAuthConn.isBusy())
        return;
    checkAuthConn.setUrl(Url(hostName->text())
                             .raw(QStringLiteral("/cgi-bin/iserv?f=checkauth"))
                             .field(QStringLiteral("&l="), loginBox->text())
                             .raw(QStringLiteral("&auth=") + auth.loginString()));
    checkAuthConn.fetch();
}

void ScopeBrowser::checkAuthResponse()
{
    if (ending || !checkHTTP(&checkAuthConn))
        return;
    if (loginAccepted(checkAuthConn.data(), checkAuthConn.length()))
        refreshList(false);
    else
        warn(QStringLiteral("Authentication Failed"),
             QStringLiteral("The server rejected your username and password.") + signUpLines());
}

void ScopeBrowser::refreshList(bool keep)
{
    // A list already on its way keeps the row it is to select again: the list has been
    // cleared meanwhile, so the current row would read as none.
    if (listConn.isBusy())
        return;
    keepSelection = keep;
    selectedIndex = scopeListBox->currentRow();
    const ScopeRecord* current = currentRecord();
    selectedName = current ? std::optional<QByteArray>(current->wireName) : std::nullopt;
    fetchScopeList();
}

void ScopeBrowser::fetchScopeList()
{
    if (listConn.isBusy())
        return;
    scopeListBox->clear();
    slideList->clear();
    descriptionBox->clear();
    reserveButton->setEnabled(false);
    schedButton->setEnabled(false);
    scopes.clear();
    listConn.setUrl(Url(hostName->text()).raw(QStringLiteral("/cgi-bin/iserv?f=i")));
    connectionStatus->setText(QStringLiteral("Connecting..."));
    listing = true;
    listConn.fetch();
}

void ScopeBrowser::updateList()
{
    if (ending)
        return;
    if (!listConn.succeeded()) {
        hostName->selectAll();
        connectionStatus->setText(QStringLiteral("Connection Failed."));
        warn(QStringLiteral("Connection Failed"),
             QStringLiteral("No Kelvry server could be found at the given hostname"));
        return;
    }
    connectionStatus->setText(QStringLiteral("Connection Successful"));
    connectToServer->setText(QStringLiteral("Refresh"));

    const ScopeList list = parseScopeList(listConn.data(), listConn.length());
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
    timersConn.setUrl(Url(hostName->text())
                          .raw(QStringLiteral("/cgi-bin/iserv?f=cwt"))
                          .field(QStringLiteral("&l="), loginBox->text())
                          .field(QStringLiteral("&s="), timers[timerIndex].wireName));
    timersConn.fetch();
    if (!watchTimer.isActive())
        watchTimer.start(1000);
}

void ScopeBrowser::parseTimersResponse()
{
    if (ending)
        return;
    QPointer<ScopeBrowser> self(this);
    const bool ok = checkHTTP(&timersConn);
    if (!self || ending)
        return;
    if (ok && timerIndex >= 0 && timerIndex < timers.size()) {
        const qint64 now = Clock::now();
        // A reply without both numbers leaves the entry as it is.
        if (const auto window = parseControlWindow(timersConn.data(), timersConn.length())) {
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
            if (!inform(QStringLiteral("Control Message"), QStringLiteral("\nYou can now control the microscope: ") + name))
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
    // An ending dialog's watch stays stopped: a booking from a scheduling dialog would otherwise
    // restart it and its ticks announce windows from the hidden dialog.
    if (ending)
        return;
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

// ---- immediate reservation ----

void ScopeBrowser::getSticket()
{
    if (!checkInfo())
        return;
    const std::optional<Asked> asked = askedNow();
    if (!asked)
        return;
    auth.setKey(asked->password);
    if (sticketConn.isBusy())
        return;
    sticketFor = asked;
    sticketConn.setUrl(Url(asked->host)
                           .raw(QStringLiteral("/cgi-bin/iserv?f=sticket"))
                           .field(QStringLiteral("&s="), asked->scope.wireName)
                           .field(QStringLiteral("&l="), asked->login));
    sticketConn.fetch();
}

void ScopeBrowser::gotSticket()
{
    if (ending || !sticketFor || !checkHTTP(&sticketConn))
        return;
    const std::optional<quint32> ticket = parseSchedulingTicket(sticketConn.data(), sticketConn.length());
    if (!ticket) {
        warn(QStringLiteral("Scheduling Failed"),
             QStringLiteral("The server rejected your username as unauthorized for this microscope."));
        return;
    }
    // The ticket was issued for the password of the click.
    auth.setKey(sticketFor->password);
    auth.setToken(*ticket);
    reserveNow();
}

void ScopeBrowser::reserveNow()
{
    // Reserves the microscope whose scheduling ticket keys `auth`.
    if (ending || !sticketFor || reserveConn.isBusy())
        return;
    reserveFor = sticketFor;
    const QString a = auth.requestString();
    reserveConn.setUrl(Url(reserveFor->host)
                           .raw(QStringLiteral("/cgi-bin/iserv?f=schdnow"))
                           .field(QStringLiteral("&s="), reserveFor->scope.wireName)
                           .field(QStringLiteral("&l="), reserveFor->login)
                           .raw(QStringLiteral("&auth=") + a));
    reserveConn.fetch();
}

void ScopeBrowser::reserveNowResponse()
{
    if (ending || !reserveFor || !checkHTTP(&reserveConn))
        return;
    const ReservationReply reply = parseReservation(reserveConn.data(), reserveConn.length());
    if (reply.granted) {
        // Set before the box: ticks and replies keep arriving while it is open.
        ScopeTimer& t = ensureEntry(reserveFor->scope.name, reserveFor->scope.wireName);
        t.active = true;
        if (t.start != -1 && t.start <= Clock::now())
            t.announced = true;         // a stored window now running must not beep late
        if (!watchTimer.isActive())
            watchTimer.start(1000);
        const QString text = QStringLiteral("Your control time: ")
            + QString::asprintf("%2i mins %2i secs\n", reply.seconds / 60, reply.seconds % 60)
            + QStringLiteral("Next reserved time: ")
            + (reply.next == -1 ? QStringLiteral("<none>") : ReserveTimeWin::textDate(reply.next))
            + QStringLiteral("\nFor more control time, use the \"Scheduling...\" button.");
        if (!inform(QStringLiteral("Success!"), text))
            return;
    } else {
        if (!warn(QStringLiteral("Reservation Failed"),
                  QStringLiteral("Reservation failed because there are fewer than\n"
                                 "five minutes remaining until the next reservation.\n"
                                 "Please use the \"Scheduling...\" button and reserve a time for later.")))
            return;
    }
    refreshList(true);
}

// ---- session ticket and the control window ----

void ScopeBrowser::setSessionOpener(SessionOpener opener)
{
    sessionOpener() = std::move(opener);
}

void ScopeBrowser::startsession()
{
    if (!checkInfo())
        return;
    const std::optional<Asked> asked = askedNow();
    if (!asked || ticketConn.isBusy())
        return;
    ticketFor = asked;
    ticketConn.setUrl(Url(asked->host)
                          .raw(QStringLiteral("/cgi-bin/iserv?f=ticket"))
                          .field(QStringLiteral("&s="), asked->scope.wireName)
                          .field(QStringLiteral("&l="), asked->login));
    ticketConn.fetch();
    keepSelection = false;
    listing = true;
}

void ScopeBrowser::authOrNot()
{
    if (ending || !ticketFor || !checkHTTP(&ticketConn))
        return;
    const Asked asked = *ticketFor;
    const SessionTicketReply reply = parseSessionTicket(ticketConn.data(), ticketConn.length());
    switch (reply.kind) {
    case SessionTicketReply::NoAuthorization:
        warn(QStringLiteral("Authorization Failed"),
             QStringLiteral("The server rejected the username and password pair you supplied."));
        return;
    case SessionTicketReply::Unscheduled:
        warn(QStringLiteral("User Not Scheduled on Scope \"") + asked.scope.name + QLatin1Char('"'),
             QStringLiteral("The server reported that you were not scheduled for access at this time."));
        return;
    case SessionTicketReply::Granted:
        openSession(asked, reply.ticket);
        return;
    case SessionTicketReply::Unexpected:
        qDebug("Reply string was %s", ticketConn.data());
        warn(QStringLiteral("Connection Failure"),
             QStringLiteral("Error connecting to the Kelvry server. Please contact the server administrator"));
        return;
    }
}

void ScopeBrowser::openSession(const Asked& asked, quint32 ticket)
{
    SessionInfo info;
    info.host = asked.host;
    info.scope = asked.scope;
    info.login = asked.login;
    info.password = asked.password;
    info.ticket = ticket;
    info.baseQuery = SessionInfo::queryPrefix(asked.login, asked.scope.wireName);

    const SessionOpener open = sessionOpener();
    if (!open) {
        qWarning("brolt: no control window to open the session in");
        return;
    }
    // The dialog ends with the session's start, and its reservation watch with it.
    ending = true;
    watchTimer.stop();
    QPointer<ScopeBrowser> self(this);
    open(info);
    if (!self)
        return;
    // A box of the dialog still open has this dialog's slots on the stack below it: only hide
    // the dialog, and let the last box to close delete it.
    if (boxesOpen > 0)
        hide();
    else
        deleteLater();
}

// ---- scheduling dialog ----

void ScopeBrowser::schedButton_clicked()
{
    if (!checkInfo())
        return;
    // The dialog is for the microscope selected now and opens with what the user had entered,
    // whatever the list and the fields show when the clock arrives.
    const std::optional<Asked> asked = askedNow();
    if (!asked)
        return;
    const ScopeRecord& rec = asked->scope;
    if (!inform(QStringLiteral("Kelvry Control Time"),
                QStringLiteral("You can control the selected microscope \"") + rec.name + QStringLiteral("\" for ")
                    + rec.maxMinutesText + QStringLiteral(" minutes maximum.")))
        return;
    if (cckConn.isBusy())
        return;                 // dropped, like any request on a busy object
    schedRequest = asked;
    cckConn.setUrl(Url(asked->host)
                       .raw(QStringLiteral("/cgi-bin/iserv?f=cck"))
                       .field(QStringLiteral("&s="), rec.wireName)
                       .field(QStringLiteral("&l="), asked->login));
    cckConn.fetch();
}

void ScopeBrowser::openResWin()
{
    if (ending || !schedRequest || !checkHTTP(&cckConn))
        return;
    // Without the server's time every booking would go to a wrong start: open no dialog.
    const auto serverTime = parseServerClock(cckConn.data(), cckConn.length());
    if (!serverTime) {
        warn(QStringLiteral("Connection Failure"),
             QStringLiteral("Error connecting to the Kelvry server.\n"
                            "Please contact the server administrator. (file scpbrwsr)"));
        return;
    }
    const Asked request = *schedRequest;
    const ScopeRecord& rec = request.scope;
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
