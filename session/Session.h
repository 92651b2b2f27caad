#pragma once

#include "Auth.h"
#include "CoordinateTriple.h"
#include "MyHTTP.h"
#include "MyWebJPEG.h"
#include "SessionInfo.h"
#include "ui_Session.h"

#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

class NeighborVideo;
class QListWidgetItem;
class VideoWindow;

// The control window of one microscope session: the slide previews, the stage fields and
// buttons, the focus, acquisition, job-list and calibration pages, and the session's requests.
// It never owns the video and neighbour windows it opens; nobody deletes it while the program
// runs (closing only hides it).
class Session : public QMainWindow, public Ui::Session
{
    Q_OBJECT
public:
    explicit Session(QWidget* parent = nullptr, const char* name = nullptr, Qt::WindowFlags fl = {});
    ~Session() override;

    // Makes a top-level control window, shows it and starts the session on it.
    static Session* openSession(SessionInfo& si);

    float pixDx = 0;                // calibration offset, whole-slide pixels
    float pixDy = 0;
    int filterState = 0;            // "Filter Null Stacks": 0 off, 2 on
    MyHTTP jobListConn;
    MyHTTP jobConn;
    QByteArray askedJob;            // the job jobConn asks for; the view takes it once its slide is known
    MyHTTP cancelConn;
    bool corner1Set = false;
    bool corner2Set = false;
    MyHTTP createJobConn;
    Auth auth;
    QVector<double> stackZ;         // z of each frame of the last focus stack, 0.1 µm
    QTimer controlTimer;
    MyHTTP timeConn;
    bool stackBusy = false;
    bool stackReturning = false;    // after a stack, the stage is on its way back to stackCentre
    bool neighborBusy = false;      // a neighbour scan runs
    bool neighborsDone = false;
    bool neighborScanCut = false;   // a scan stopped early, which cleared neighborsDone
    bool neighborTileUnread = false;    // a tile of the last scan did not decode: no neighborsDone
    QPointer<VideoWindow> videoWindow;
    int zRemaining = 0;
    int neighborIndex = 0;
    CoordinateTriple physical;      // last position the stage reported, 0.1 µm
    CoordinateTriple stackCentre;
    CoordinateTriple neighborCentre;
    CoordinateTriple corner1;       // acquisition area, mm
    CoordinateTriple corner2;
    MyHTTP moveConn;
    MyWebJPEG videoJPEG;
    MyWebJPEG insetJPEG;
    MyWebJPEG neighborJPEG;
    MyHTTP zMoveConn;
    MyHTTP neighMoveConn;
    MyHTTP sysInfoConn;
    int secondsLeft = 0;
    bool expired = false;
    float mppX = 0;                 // µm per video pixel
    float mppY = 0;
    int movieCount = 0;
    QVector<QString> jobList;
    QString curSlide;
    QPointer<NeighborVideo> neighborVideo;
    SessionInfo si;
    MyHTTP calibConn;
    float calDx = 0;                // calibration offset, 0.1 µm
    float calDy = 0;

    // A request on the session's query prefix: "http://" + host + `si.baseQuery` + command.
    QString iservUrl(const QString& command) const;
    // "&auth=" and a fresh request string of `auth`.
    QString authPart();
    // Handles one reply of the stage commands, as newCoordsHere() does with moveConn's.
    void handlePositionReply(bool succeeded, const char* data, int length);

public slots:
    virtual void fileOpen();
    virtual void fileSave();
    virtual void fileSaveAs();
    virtual void filePrint();
    virtual void fileExit();
    virtual void editUndo();
    virtual void editRedo();
    virtual void editCut();
    virtual void begin(SessionInfo& info);
    virtual void editPaste();
    virtual void editFind();
    virtual void upButtonPressed();
    virtual void newSession();
    virtual void init();
    virtual void updateVideo();
    virtual void newCoordsHere();
    virtual void pointToScreen(CoordinateTriple t);
    virtual void queryCoords();
    virtual void changeDestination(CoordinateTriple& t);
    virtual void beginZAcquire();
    virtual void zMoveComplete();
    virtual void startNextZImage(QImage& image);
    virtual void focusSliderChanged(int value);
    virtual void nudgeUp();
    virtual void doCoarseAuto();
    virtual void sysInfoArrived();
    virtual void showCurrent();
    virtual void disableControls();
    virtual void enableControls();
    virtual void startTimer();
    virtual void tickme();
    virtual void doSlowAccurate();
    virtual void changeVideoFormat(int code);
    virtual void setC1();
    virtual void setC2();
    virtual void calcNumMovies();
    virtual void handleJobReset();
    virtual void filterControl(int state);
    virtual void handleCreateJob();
    virtual void createJobResponse();
    virtual void cancelShedule();
    virtual void cancelSheduleResponse();
    virtual void handleRefreshButton();
    virtual void handleDisplayLib();
    virtual void handleDisplayJob();
    virtual void handleJobListBox(QListWidgetItem* item);
    virtual void displayJobList();
    virtual void displayJob();
    virtual void handleSlideButton();
    virtual void handleNeighborButton();
    virtual void startNextNeighbor(QImage& image);
    virtual void neighMoveComplete();
    virtual void handleCorrectButton();
    virtual void calibrationResponse();
    virtual void refreshPreview();

protected slots:
    virtual void languageChange();

signals:
    void physicalLocationChanged(CoordinateTriple& t);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Leaving by the frame's close button is leaving by "Exit": the video window closes too.
    void closeEvent(QCloseEvent* event) override;

private:
    // A neighbour scan or a focus stack runs, or the stage returns from a stack: no stage
    // command of the user goes out, and no video frame gives the controls back before it ends.
    bool acquiring() const { return neighborBusy || stackBusy || stackReturning; }
    void videoFrameArrived();
    void videoFrameFailed();
    // A new video size stops a running scan or stack, whose requests are abandoned.
    void stopAcquisition();
    // Shows a slide named by the host in both previews; curSlide is its shown name.
    void showSlide(const QByteArray& wireSlide);
    QByteArray curSlideWire;    // the bytes the host names curSlide with
    void sendMove(const QString& command);
    // A move the host answers once the stage is there (scan steps, stack levels), on `conn`.
    void sendBlockingMove(MyHTTP& conn, double x, double y, double z);

    // Focus stack: ends it, or ends it after a level that got no image, which then leaves
    // stackZ, with a line to System Info. Unless the time is over, a stage that left the centre
    // is sent back there and the frame taken there brings the controls back; with no level
    // sent, the controls come back at once, if asked.
    void finishStack(bool controlsBack = true);
    void dropStackLevel(const QString& why, bool controlsBack = true);
    void stackReturned();
    bool stackMoved = false;    // a level move of this stack went out
    QMetaObject::Connection insetFailure;   // insetJPEG's failed(), hooked at the first stack
    // The neighbour scan stops early: controls back (if asked) unless the time is over, a
    // System Info line.
    void endNeighborScan(const QString& line, bool controlsBack = true);
    void neighborFrameFailed();
};
