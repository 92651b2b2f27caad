#pragma once

#include "SlideWorld.h"

#include <QHash>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

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

// A microscope's stage, in 0.1 um units. Moves set the target; the position is what the
// camera sees and what position replies report.
struct SimStage
{
    double x = SlideGeometry::kCentreX;
    double y = SlideGeometry::kCentreY;
    double z = 15000.0;
    double targetX = SlideGeometry::kCentreX;
    double targetY = SlideGeometry::kCentreY;
    double targetZ = 15000.0;
    bool moving = false;
};

// Stacks of the service's public slide library, by slide id.
struct LibrarySlide
{
    QString id;
    QList<QPointF> stacks;      // successful stacks, 0.1 um
    QList<QPointF> nullStacks;  // stacks that found no tissue
};

// An acquisition job: unique name, owner, slide and its stacks so far.
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
    SimStage stage;             // starts at the centre of the first slide, in focus
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

    // Tickets per kind ("sched", "session"), login and microscope. Several may be outstanding.
    quint32 issueTicket(const QString& kind, const QString& login, const QString& scope);
    bool checkRequest(const QString& kind, const QString& login, const QString& scope,
                      const QString& authHex) const;

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

    LibrarySlide* librarySlide(const QString& id);
    SimJob* job(const QString& name);

private:
    void seedSlides();
    mutable QHash<QString, std::shared_ptr<const SlideWorld>> slideWorlds;

    QHash<QString, QList<quint32>> tickets;
    quint32 ticketSeed = 0x5a17c3e9;
};
