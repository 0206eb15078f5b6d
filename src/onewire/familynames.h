#pragma once

#include <QString>

// Names a 1-Wire device by its family code.
class FamilyNames
{
public:
    // The description of `familyCode`, or "Unknown device".
    static QString describe(int familyCode);
};
