#pragma once

#include "SimStage.h"
#include "SlideWorld.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// The simulated service's state: users, microscopes with their slides and schedules, tickets.
struct SimUser
{
    QString login;
    QString password;
    bool banned = false;        // known to the host but refused every ticket
};

struct Reservation
{
    QString login;
    qint64 start = 0;           // epoch seconds
    qint64 length = 0;          // seconds
    qint64 end() const { return start + length; }
};

// Stacks of the service's public slide library, by slide id.
struct LibrarySlide
{
    QString id;
    QList<QPointF> stacks;      // successful stacks, 0.1 um
    QList<QPointF> nullStacks;  // stacks that found no tissue
};

// An acquisition job: unique name, owner, slide, its planned or acquired stacks (tissue) and
// its null stacks (blank points).
struct SimJob
{
    QString name;
    QString owner;
    QString slide;
    QList<QPointF> stacks;
    QList<QPointF> nullStacks;
};

struct SimScope
{
    QString name;
    bool reservable = true;     // "$" in the list, else "#"
    int maxMinutes = 60;
    QString description;        // HTML, never holds '^'
    QStringList slides;         // the first is under the stage
    double mppX = 0.19608;      // micrometres per pixel at 640 x 480
    double mppY = 0.19608;
    QList<Reservation> schedule;
    SimStage stage;             // starts at the centre of the first slide, in focus; the camera
                                // sees its position, position replies report it
};

class World
{
public:
    // The demonstration world: three microscopes, demo logins, a few reservations.
    World();

    QString banner;
    QList<SimUser> users;
    QList<SimScope> scopes;

    // Seconds added to the real clock; tests may replace the clock altogether.
    qint64 clockOffset = 0;
    std::function<qint64()> clock;
    qint64 now() const;

    SimUser* user(const QString& login);
    SimScope* scope(const QString& name);

    // The user's reservation on a microscope that holds `at`, or the next one after it.
    const Reservation* current(const QString& scope, const QString& login, qint64 at) const;
    const Reservation* next(const QString& scope, const QString& login, qint64 at) const;
    // The first reservation of anyone that starts after `at`.
    const Reservation* nextOfAnyone(const QString& scope, qint64 at) const;
    bool overlaps(const QString& scope, qint64 start, qint64 length) const;
    void book(const QString& scope, const Reservation& r);

    // Control time: seconds left at `at` of the login's running reservation on the microscope
    // and of its own reservations that follow it without a gap; 0 when none runs.
    qint64 controlSecondsLeft(const QString& scope, const QString& login, qint64 at) const;
    // A cancellation ends the login's control within this many seconds and bars the login from
    // scheduling that microscope for the second number.
    int cancelGraceSeconds = 30;
    int cancelBanSeconds = 300;
    // False when no reservation of the login runs there at `at`.
    bool cancelControl(const QString& scope, const QString& login, qint64 at);
    bool schedulingBarred(const QString& scope, const QString& login, qint64 at) const;

    // Tickets per kind ("sched", "session"), login and microscope. Several may be outstanding.
    quint32 issueTicket(const QString& kind, const QString& login, const QString& scope);
    bool checkRequest(const QString& kind, const QString& login, const QString& scope,
                      const QString& authHex) const;

    // Whether a control-window command (stage, cancellation, job) may act: its authentication
    // string fits a session ticket of the login on that microscope, and the login holds control
    // time there now.
    enum class Control { Granted, BadTicket, NoControlTime };
    Control checkControl(const QString& scope, const QString& login, const QString& authHex) const;

    // ---- Stages (WorldStage.cpp) ----
    // Believable speeds by default; TestHost makes them fast.
    StageSettings stageSettings;
    // Milliseconds for the stages; by default since the world was made.
    std::function<qint64()> stageClock;
    qint64 stageNow() const;
    // Unknown microscopes have a stage at (0, 0, 0) that never moves.
    SimStage::Position stagePosition(const QString& scope) const;
    bool stageAtRest(const QString& scope) const;
    qint64 msToRest(const QString& scope) const;
    // A move from where the stage is now to the target, clamped to the slide (0..756700 x
    // 0..503250) and to 0 < z < 30000; returns the clamped target.
    SimStage::Position moveStage(const QString& scope, SimStage::Position target);
    // Autofocus over the quick or the accurate time to the focus height under the stage's xy
    // target: the accurate one ends on it, the quick one within 1.5 um of it. Returns that z.
    double autofocus(const QString& scope, bool accurate);
    // The stage at rest at `p` (clamped) at once.
    void placeStage(const QString& scope, SimStage::Position p);
    static SimStage::Position clampToStage(SimStage::Position p);

    // The "f=i" reply.
    QByteArray listReply() const;

    // ---- Slides (WorldSlides.cpp) ----
    QList<LibrarySlide> library;
    QList<SimJob> jobs;
    // Corrected fiducial files "<slide>.<scope>.new", keyed "<slide>.<scope>".
    QHash<QString, Fiducials> correctedFiducials;
    // Where a slide sits on a microscope's stage, keyed "<slide>.<scope>": the whole-slide
    // pixel offset between the base calibration and the true one. The camera sees slide point
    // slidePoint() at a stage position.
    QHash<QString, QPoint> placements;

    // Every slide name the host serves: the microscopes' slides, the library and job slides.
    bool hasSlide(const QString& name) const;
    // The slide's specimen, or null for a name the host does not serve.
    std::shared_ptr<const SlideWorld> slide(const QString& name) const;
    QString mountedSlide(const QString& scope) const;
    // The slide point (0.1 um) under stage position (x, y) of a microscope with that slide.
    QPointF slidePoint(const QString& scope, const QString& slide, QPointF stage) const;
    // The focus height under the stage of a microscope at (x, y).
    double focusUnderStage(const QString& scope, double x, double y) const;
    // Camera field of a microscope in 0.1 um, at every frame size: 6400 x mpp by 4800 x mpp.
    QPointF cameraField(const QString& scope) const;
    // Blur in micrometres of a frame taken at stage height z over the focus height `focus`.
    double blurUm(const QString& scope, double z, double focus) const;

    // The calibration the views read for a slide on a microscope: its corrected file, else the
    // base marks; none for a slide the host does not serve.
    std::optional<Fiducials> calibration(const QString& slide, const QString& scope) const;
    // Adds a whole-slide pixel offset to the marks of that calibration and stores the result as
    // the corrected file. False when the host has no fiducials for the slide or no such scope.
    bool correctCalibration(const QString& slide, const QString& scope, QPoint offset);

    // ---- Jobs (WorldJobs.cpp) ----
    // Jobs of more points than this are refused as too large ("<"). A point list takes about 24
    // bytes a point on the request line, and the HTTP layer takes lines many times longer than
    // such a job's, so a job over the limit gets that answer rather than a transport error.
    int maxJobPoints = 10000;
    enum class JobResult { Stored, Duplicate, Nonsense, TooLarge };
    // A grid job laid by the client's count rule: from the corners truncated to whole units,
    // in steps of 10000 / density truncated, while below the far corner; x outer, y inner.
    static qint64 jobGridCount(double tlx, double tly, double brx, double bry, int density);
    static QList<QPointF> jobGrid(double tlx, double tly, double brx, double bry, int density);
    // Lays the grid and sorts it by what the slide's picture shows on that microscope.
    JobResult createGridJob(const QString& scope, const QString& owner, const QString& name,
                            const QString& slide, double tlx, double tly, double brx, double bry,
                            int density);
    // Takes the client's own sorting.
    JobResult createListJob(const QString& owner, const QString& name, const QString& slide,
                            const QList<QPointF>& tissue, const QList<QPointF>& blank);
    // Whether the whole-slide picture shows tissue (R + G + B <= 675) at a stage point under the
    // slide's calibration on that microscope, read at the pixel a client reads. Off the picture,
    // or on a slide the host does not serve, there is no tissue.
    bool pictureShowsTissue(const QString& scope, const QString& slide, QPointF stage) const;
    QStringList jobNames(const QString& owner) const;

    LibrarySlide* librarySlide(const QString& id);
    SimJob* job(const QString& name);

private:
    void seedSlides();
    JobResult checkNewJob(const QString& name, const QString& slide, qint64 points) const;

    QElapsedTimer started;
    QHash<QString, qint64> schedulingBans;      // "<login>|<scope>" -> end of the ban
    mutable QHash<QString, std::shared_ptr<const SlideWorld>> slideWorlds;

    QHash<QString, QList<quint32>> tickets;
    quint32 ticketSeed = 0x5a17c3e9;
};
