#pragma once

#include <QtGlobal>

// How fast the simulated stages move and focus, and how long a position poll takes to answer.
struct StageSettings
{
    double xySpeed = 100000.0;      // 0.1 um per second along x and along y: 10 mm/s
    double zSpeed = 5000.0;         // 0.5 mm/s
    int pollDelayMs = 40;           // "f=w" answers after this
    int quickFocusMs = 1200;        // "f=a" takes this long
    int accurateFocusMs = 4000;     // "f=r" takes this long

    // For tests: a move across the slide in about a tenth of a second, polls in a few ms.
    static StageSettings fast();
};

// A microscope stage in 0.1 um units. Every command starts from where the stage is at that
// moment; each axis then runs linearly to its target: x and y at the xy speed, z at the z speed
// or over an autofocus's time. Times are milliseconds of the world's stage clock.
class SimStage
{
public:
    struct Position
    {
        double x = 0;
        double y = 0;
        double z = 0;
    };

    Position at(qint64 ms) const;
    Position target() const { return m_to; }
    bool atRest(qint64 ms) const;
    // Milliseconds until every axis has arrived, rounded up; 0 at rest.
    qint64 msToRest(qint64 ms) const;

    void moveTo(const Position& target, qint64 ms, const StageSettings& s);
    // z to `z` over `durationMs`, however near it is; x and y go on to their targets.
    void focusTo(double z, qint64 ms, int durationMs, const StageSettings& s);
    // At rest at `p` at once.
    void place(const Position& p);

private:
    Position m_from;
    Position m_to;
    qint64 m_startMs = 0;
    double m_durationMs[3] = {0, 0, 0};
};
