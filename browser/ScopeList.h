#pragma once

#include "ScopeRecord.h"

#include <QList>

// The host's microscope list: a banner, then one record per microscope.
struct ScopeList
{
    QString banner;
    QList<ScopeRecord> records;
};

// Reads a list reply of `length` bytes; never reads outside them, and reads each byte into one
// record at most: a marker inside a slide line is part of that slide. A record cut off before
// the end of its description is dropped; a record whose slides are missing or cut short is kept.
ScopeList parseScopeList(const char* data, int length);
