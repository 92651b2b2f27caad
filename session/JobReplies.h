#pragma once

#include <QByteArray>
#include <QList>

// Readers of the replies about jobs and lists, over the received bytes only. Each reads the
// reply as text up to its first NUL byte, as the service's C clients do.

// Answer to a job request ("f=cj", "f=cjf").
enum class JobReply {
    Exists,         // "-D": the job name is taken
    Nonsense,       // "-E"
    TooLarge,       // "<"
    Waiting,        // "+": the job is queued
    Other,          // anything else, an empty reply included
};
JobReply parseJobReply(const char* data, int length);

// The entries of a job or slide list: the lines up to the first empty one, a last line without
// "\n" included; only "\n" separates, so a "\r" stays part of its line. Lines longer than
// MaxListEntry bytes are no names and are left out; at most MaxListEntries are read.
constexpr int MaxListEntry = 1024;
constexpr int MaxListEntries = 10000;
QList<QByteArray> parseListReply(const char* data, int length);

// The job's slide: the first word of its point list, ended by any white space. Empty when the
// reply starts with white space, holds nothing or the word is longer than MaxListEntry bytes.
QByteArray parseJobSlide(const char* data, int length);
