#pragma once

#include <QString>

// Refuses a second running copy of the program through a 1-byte shared-memory
// segment that a running copy keeps attached until it exits.
class SingleInstance
{
public:
    // The segment key: "Orvex", or the environment variable ORVEX_INSTANCE_KEY
    // when set (so tests never meet an operator's running copy).
    static QString key();

    // Returns true when no other copy is running; this process then holds the
    // segment until it exits. Returns false when another copy holds it.
    // A segment left behind by a copy that crashed is removed first.
    static bool claim();
};
