#pragma once

#include "Auth.h"
#include "MyHTTP.h"
#include "ScopeRecord.h"
#include "ScopeTimer.h"
#include "SessionInfo.h"
#include "ui_ScopeBrowser.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QTimer>
#include <functional>
#include <optional>

class QApplication;

// The log-in dialog: host, login and password, the host's microscopes, reservations and the
// once-a-second reservation watch.
class ScopeBrowser : public QDialog, public Ui::ScopeBrowser
{
    Q_OBJECT
public:
    explicit ScopeBrowser(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                          Qt::WindowFlags fl = {});
    ~ScopeBrowser() override;

    // Opens the control window of a granted session: creates it as a window of its own, shows
    // it and begins it with the record. Set once for the process; the dialog calls it on a
    // granted ticket and then goes away.
    using SessionOpener = std::function<void(SessionInfo&)>;
    static void setSessionOpener(SessionOpener opener);

    virtual bool checkInfo();
    virtual bool checkHTTP(MyHTTP* request);
    void refreshList(bool keep);

    // State read by tests and by the flows of the other dialogs.
    const QList<ScopeRecord>& records() const { return scopes; }
    const QList<ScopeTimer>& watchEntries() const { return timers; }
    const ScopeTimer* timerFor(const QString& scopeName) const;
    bool isListing() const { return listing; }
    bool isFirstConnect() const { return firstConnect; }
    QTimer& watch() { return watchTimer; }
    bool sweepRunning() const { return sweeping; }

public slots:
    virtual void setAppRef(QApplication* app);
    virtual void initTimers();
    virtual void checkSchedEntries();
    virtual void startsession();
    virtual void authOrNot();
    virtual void connectBtn_clicked();
    virtual void fetchScopeList();
    virtual void addScopeTimer(char* name);
    virtual void describeScope(int row);
    virtual void ScopeBrowser_destroyed(QObject*);
    virtual void reserveNow();
    virtual void checkAuth();
    virtual void checkAuthResponse();
    virtual void schedButton_clicked();
    virtual void openResWin();
    virtual void startSchedTimer(long wait, long length);
    virtual void timingHelper(long now, long start, long end);

    // A booked window for a named microscope (the scheduling dialog knows which one it booked).
    void startSchedTimerFor(const QString& scopeName, qint64 wait, qint64 length);

protected slots:
    virtual void languageChange();

private slots:
    virtual void parseTimersResponse();
    virtual void updateList();
    virtual void updateScopeTimers();
    virtual void updateScopeControlEnablers();
    virtual void reserveNowResponse();
    virtual void getSticket();
    virtual void gotSticket();
    virtual void updateControlButton();
    virtual void tickTock();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void init();
    ScopeTimer* entry(const QString& scopeName);
    ScopeTimer& ensureEntry(const QString& scopeName, const QByteArray& wireName = QByteArray());
    const ScopeRecord* currentRecord() const;

    // What a request was sent for, taken at the click: its reply is applied to that microscope,
    // login and password, whatever is selected or typed meanwhile.
    struct Asked
    {
        ScopeRecord scope;
        QString host;
        QString login;
        QString password;
    };
    std::optional<Asked> askedNow() const;     // nothing without a current row
    void openSession(const Asked& asked, quint32 ticket);

    // The dialog's message boxes. False when the caller must return at once: the dialog was
    // destroyed while the box was open, or it is ending.
    bool warn(const QString& caption, const QString& text);
    bool inform(const QString& caption, const QString& text);
    bool showBox(bool warning, const QString& caption, const QString& text);
    int rowToKeep() const;
    void timingHelperFor(const QString& scopeName, qint64 now, qint64 start, qint64 end);

    QTimer watchTimer;
    int selectedIndex = -1;
    std::optional<QByteArray> selectedName;     // the microscope of selectedIndex
    MyHTTP ticketConn;
    MyHTTP checkAuthConn;
    MyHTTP reserveConn;
    MyHTTP listConn;
    MyHTTP sticketConn;
    MyHTTP timersConn;
    MyHTTP cckConn;
    bool listing = false;
    bool keepSelection = false;
    QList<ScopeRecord> scopes;
    Auth auth;
    QList<ScopeTimer> timers;
    QHash<QString, int> timerIndexOf;       // entry of each microscope name
    bool firstConnect = true;
    int timerIndex = 0;
    bool sweeping = false;
    QApplication* appRef = nullptr;
    std::optional<Asked> sticketFor;
    std::optional<Asked> reserveFor;
    std::optional<Asked> ticketFor;
    // A granted session ends the dialog, and replies that arrive afterwards do nothing. While
    // its boxes are open it is only hidden, and the last box to close deletes it.
    int boxesOpen = 0;
    bool ending = false;
    // What "Scheduling..." was pressed with; its dialog opens when the clock reply arrives.
    std::optional<Asked> schedRequest;
};
