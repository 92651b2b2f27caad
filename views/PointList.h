#pragma once

#include <QtGlobal>

// A point-list reply read in place: lines "<name> <x> <y>" (a name without blanks, then x and y
// in stage units), separated by white space, each ending in '\n'. A line that does not give a
// name and two numbers within float's range is passed over. Reading ends at the reply's end or
// at its first NUL byte. Only the bytes [data, data + size) are read; nothing is allocated but a
// copy of the rest of the line for a number of some 56 characters or more.
class PointList
{
public:
    PointList(const char* data, qsizetype size);

    // The next line's point; false when no line is left.
    bool next(float& x, float& y);

private:
    const char* p;
    const char* end;
};
